// The tall picture the scroll target shows: distinct, non-uniform rows, with a flat top margin
// and a band of uniform rows, so that captures can be compared with it row by row.
#ifndef TALLSNAP_TESTS_WIN_SCROLL_CONTENT_H
#define TALLSNAP_TESTS_WIN_SCROLL_CONTENT_H

#include <cstdint>

constexpr int kTargetWidth = 420;
constexpr int kTargetHeight = 520;
constexpr int kContentRows = 4000;
constexpr int kPixelsPerNotch = 12;
constexpr int kFlatMarginRows = 30;
constexpr int kBandFirstRow = 1200;
constexpr int kBandRows = 60;

// 0x00RRGGBB of column x of content row k.
inline uint32_t ContentPixel(int x, int k) {
  if (k < kFlatMarginRows) return 0x00F0F0F0u;
  if (k >= kBandFirstRow && k < kBandFirstRow + kBandRows) return 0x00203040u + static_cast<uint32_t>(k - kBandFirstRow);
  uint32_t h = static_cast<uint32_t>(k) * 2654435761u ^ static_cast<uint32_t>(x) * 40503u;
  h ^= h >> 15;
  h *= 2246822519u;
  h ^= h >> 13;
  return h & 0x00FFFFFFu;
}

// A status bar over the bottom of the window that does not scroll: grey, two dividers down its
// whole height, marks of text in its upper half, so that its lower rows are all alike.
constexpr int kFooterRows = 24;
inline uint32_t FooterPixel(int x, int j) {
  if (x == 150 || x == 300) return 0x00404040u;
  if (j < kFooterRows / 2 && x >= 20 && x < 140 && (x * 7 + j * 13) % 5 == 0) return 0x00202020u;
  return 0x00C0C0C0u;
}

#endif
