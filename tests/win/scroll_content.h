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

#endif
