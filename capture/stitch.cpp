#include "capture/stitch.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

StitchColumns StitchColumnsFor(int width) {
  StitchColumns c{};
  c.quarter = static_cast<int>(static_cast<float>(width / 4.0));
  c.step = c.quarter > 0 ? static_cast<int>(static_cast<float>(static_cast<double>(width) / c.quarter)) : 1;
  if (c.step < 1) c.step = 1;
  c.firstMiddle = static_cast<int>(static_cast<float>(width / 4.0 + 1));
  c.scanBound = static_cast<float>(3.0 * width / 4.0 - 1);
  return c;
}

namespace {

// Sampled columns 0, s, 2s, ... below W agree between the two rows.
bool SampledColumnsEqual(const uint32_t* a, const uint32_t* b, int width, int step) {
  for (int c = 0; c < width; c += step)
    if (a[c] != b[c]) return false;
  return true;
}

// A row whose middle columns all equal its pixel at the quarter column makes no key row:
// it would match almost anywhere.
bool MiddleColumnsUniform(const uint32_t* row, const StitchColumns& cols) {
  const uint32_t reference = row[cols.quarter];
  for (int c = cols.firstMiddle; static_cast<float>(c) <= cols.scanBound; c += cols.step)
    if (row[c] != reference) return false;
  return true;
}

}  // namespace

namespace {

// Steps before the search: nothing new visible, or the image full. True when the search runs.
bool NeedsSearch(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int maxHeight,
                 int32_t imageBytes, const StitchColumns& cols, StitchDecision& d) {
  if (scrollY != h) {
    const uint32_t* imageRow = ViewRow(image, scrollY - 1);
    const uint32_t* grabRow = ViewRow(grab, h - 1);
    const int64_t rowOffset = 4 * (static_cast<int64_t>(image.width) * (image.height - scrollY));
    bool differs = false;
    for (int c = 0; c < w && !differs; c += cols.step)
      differs = rowOffset + 4 * c <= imageBytes && imageRow[c] != grabRow[c];
    if (!differs) {
      d.outcome = StitchOutcome::Unchanged;
      return false;
    }
  }
  if (scrollY > maxHeight - h) {
    d.outcome = StitchOutcome::LimitReached;
    return false;
  }
  return true;
}

// The key-row walk shared by both searches; findMatch(y, r) gives the largest grab row <= r
// whose sampled columns equal image row y's, or -1.
template <typename FindMatch>
StitchDecision WalkKeyRows(const PixelView& image, int h, int scrollY, const StitchColumns& cols,
                           FindMatch findMatch) {
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int matches = 0;
  int firstY = 0, firstR = 0;
  for (int y = scrollY - 1; y >= 0; --y) {
    if (MiddleColumnsUniform(ViewRow(image, y), cols)) continue;
    int r = findMatch(y, h - 1);
    while (r >= 0) {
      if (matches == 0) {
        firstY = y;
        firstR = r;
      }
      if (++matches == kMatchesNeeded) {
        d.outcome = StitchOutcome::Append;
        d.keyRow = firstY;
        d.matchRow = firstR;
        d.newScrollY = firstY + h - firstR - kStitchBorder;
        return d;
      }
      // The next key row would lie above the image: this tick's search ends without a match.
      if (y - kKeyRowMove < 0) return d;
      y -= kKeyRowMove;
      r = findMatch(y, r - kKeyRowMove - 1);
    }
  }
  return d;
}

}  // namespace

StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes) {
  const int w = rangeWidth, h = rangeHeight;
  const StitchColumns cols = StitchColumnsFor(w);
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, cols, d)) return d;
  return WalkKeyRows(image, h, scrollY, cols, [&](int y, int r) {
    const uint32_t* key = ViewRow(image, y);
    for (; r >= 0; --r)
      if (SampledColumnsEqual(ViewRow(grab, r), key, w, cols.step)) return r;
    return -1;
  });
}

void ApplyStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                        int matchRow) {
  const int w = rangeWidth, h = rangeHeight;
  const int fillEnd = std::min(keyRow + h + kStitchBorder * 2, image.height - 1);
  for (int y = keyRow + 1; y <= fillEnd; ++y) std::memset(ViewRow(image, y), 0, sizeof(uint32_t) * image.width);
  // Grab rows past its last row (H + 5) leave the black of the fill.
  const int copyRows = std::min(h - 2 * kStitchBorder, grab.height - matchRow);
  for (int i = 0; i < copyRows && keyRow + i < image.height; ++i)
    std::memcpy(ViewRow(image, keyRow + i), ViewRow(grab, matchRow + i), sizeof(uint32_t) * w);
}

uint64_t KeyedRowHash(const uint32_t* row, int width, int step, const uint32_t* keys) {
  uint64_t sum = 0;
  int c = 0, i = 0;
#if defined(__SSE2__)
  if (step == 4) {
    // Four sampled columns a round, two to a multiply: the low pixel of each 64-bit lane meets
    // its key. Every load stays below width, so the row needs no columns past the range.
    __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
    for (; c + 15 < width; c += 16, i += 4) {
      const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + i));
      const __m128i p01 = _mm_unpacklo_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c + 4)));
      const __m128i p23 = _mm_unpacklo_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c + 8)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c + 12)));
      acc0 = _mm_add_epi64(acc0, _mm_mul_epu32(p01, _mm_shuffle_epi32(k, _MM_SHUFFLE(1, 1, 0, 0))));
      acc1 = _mm_add_epi64(acc1, _mm_mul_epu32(p23, _mm_shuffle_epi32(k, _MM_SHUFFLE(3, 3, 2, 2))));
    }
    alignas(16) uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(acc0, acc1));
    sum = lanes[0] + lanes[1];
  }
#endif
  for (; c < width; c += step, ++i) sum += uint64_t{row[c]} * keys[i];
  return sum;
}

namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int SampledCount(int width, int step) { return width > 0 ? (width - 1) / step + 1 : 0; }

void Describe(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int blackFrom) {
  rows.pixels = image.pixels;
  rows.width = image.width;
  rows.height = image.height;
  rows.rangeWidth = rangeWidth;
  rows.rangeHeight = rangeHeight;
  const StitchColumns cols = StitchColumnsFor(rangeWidth);
  rows.keys.resize(static_cast<size_t>(SampledCount(rangeWidth, cols.step)));
  uint64_t state = rows.seed;
  for (uint32_t& key : rows.keys) key = static_cast<uint32_t>(SplitMix(state) >> 32);
  rows.hash.assign(static_cast<size_t>(image.height), 0);
  rows.uniform.assign(static_cast<size_t>(image.height), 0);
  rows.knownRows = 0;
  rows.blackFrom = std::max(0, std::min(blackFrom, image.height));
}

// A record made for another image or range knows nothing of this one, not even which rows are
// black: it starts over rather than be trusted.
void Adopt(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight) {
  if (rows.pixels != image.pixels || rows.width != image.width || rows.height != image.height ||
      rows.rangeWidth != rangeWidth || rows.rangeHeight != rangeHeight)
    Describe(rows, image, rangeWidth, rangeHeight, image.height);
}

// Hash and uniformity of the image rows from knownRows up to (not including) upTo.
void LearnRows(StitchRows& rows, const PixelView& image, const StitchColumns& cols, int upTo) {
  upTo = std::min(upTo, rows.height);
  for (int y = rows.knownRows; y < upTo; ++y) {
    const uint32_t* row = ViewRow(image, y);
    rows.hash[static_cast<size_t>(y)] =
        KeyedRowHash(row, rows.rangeWidth, cols.step, rows.keys.data()) & rows.hashMask;
    rows.uniform[static_cast<size_t>(y)] = MiddleColumnsUniform(row, cols);
  }
  rows.knownRows = std::max(rows.knownRows, upTo);
}

// SampledColumnsEqual that takes the columns it read off a budget.
bool SampledColumnsEqualCounted(const uint32_t* a, const uint32_t* b, int width, int step, int64_t& budget) {
  int c = 0;
  while (c < width && a[c] == b[c]) c += step;
  budget -= c / step + 1;
  return c >= width;
}

size_t SlotOf(uint64_t hash, size_t mask) {
  return (static_cast<uint32_t>(hash >> 32) ^ static_cast<uint32_t>(hash)) & mask;
}

// Every grab row by its hash: the slot of a hash holds its highest row, and grabNext leads
// down through the lower rows of the same hash.
void IndexGrab(StitchRows& rows, const PixelView& grab, int w, int h, int step) {
  size_t size = 16;
  while (size < 2 * static_cast<size_t>(h)) size *= 2;
  rows.grabHash.resize(static_cast<size_t>(h));
  rows.grabNext.resize(static_cast<size_t>(h));
  rows.slots.assign(size, -1);
  for (int g = 0; g < h; ++g)
    rows.grabHash[static_cast<size_t>(g)] = KeyedRowHash(ViewRow(grab, g), w, step, rows.keys.data()) & rows.hashMask;
  for (int g = 0; g < h; ++g) {
    const uint64_t hash = rows.grabHash[static_cast<size_t>(g)];
    size_t s = SlotOf(hash, size - 1);
    while (rows.slots[s] >= 0 && rows.grabHash[static_cast<size_t>(rows.slots[s])] != hash) s = (s + 1) & (size - 1);
    rows.grabNext[static_cast<size_t>(g)] = rows.slots[s];
    rows.slots[s] = g;
  }
}

// The highest grab row at or below r equal to the key row, among the rows of its hash; a row
// whose columns differ is a collision.
int FindIndexed(const StitchRows& rows, const PixelView& grab, const uint32_t* key, uint64_t keyHash, int r, int w,
                int step) {
  const size_t mask = rows.slots.size() - 1;
  size_t s = SlotOf(keyHash, mask);
  int32_t g;
  while ((g = rows.slots[s]) >= 0 && rows.grabHash[static_cast<size_t>(g)] != keyHash) s = (s + 1) & mask;
  for (; g >= 0; g = rows.grabNext[static_cast<size_t>(g)])
    if (g <= r && SampledColumnsEqual(ViewRow(grab, g), key, w, step)) return g;
  return -1;
}

}  // namespace

void ResetStitchRows(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int writtenRows,
                     uint64_t seed) {
  rows.seed = seed;
  Describe(rows, image, rangeWidth, rangeHeight, writtenRows);
}

StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, StitchRows& rows, int64_t literalSamples) {
  const int w = rangeWidth, h = rangeHeight;
  const StitchColumns cols = StitchColumnsFor(w);
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, cols, d)) return d;
  Adopt(rows, image, w, h);
  LearnRows(rows, image, cols, scrollY);
  // The usual tick finds its rows after a few literal comparisons. Past a share of what
  // indexing the grab costs, the grab's rows are indexed and the key rows looked up instead.
  int64_t literalLeft =
      literalSamples >= 0 ? literalSamples : int64_t{h} * SampledCount(w, cols.step) / kLiteralShare;
  bool indexed = false;
  const auto findMatch = [&](int y, int r) {
    const uint32_t* key = ViewRow(image, y);
    for (; r >= 0 && literalLeft > 0; --r)
      if (SampledColumnsEqualCounted(ViewRow(grab, r), key, w, cols.step, literalLeft)) return r;
    if (r < 0) return -1;
    if (!indexed) {
      IndexGrab(rows, grab, w, h, cols.step);
      indexed = true;
    }
    return FindIndexed(rows, grab, key, rows.hash[static_cast<size_t>(y)], r, w, cols.step);
  };
  // The key-row walk of the literal search, with the uniformity the record has learnt.
  int matches = 0;
  int firstY = 0, firstR = 0;
  for (int y = scrollY - 1; y >= 0; --y) {
    if (rows.uniform[static_cast<size_t>(y)]) continue;
    int r = findMatch(y, h - 1);
    while (r >= 0) {
      if (matches == 0) {
        firstY = y;
        firstR = r;
      }
      if (++matches == kMatchesNeeded) {
        d.outcome = StitchOutcome::Append;
        d.keyRow = firstY;
        d.matchRow = firstR;
        d.newScrollY = firstY + h - firstR - kStitchBorder;
        return d;
      }
      if (y - kKeyRowMove < 0) return d;
      y -= kKeyRowMove;
      r = findMatch(y, r - kKeyRowMove - 1);
    }
  }
  return d;
}

void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow, StitchRows& rows) {
  const int w = rangeWidth, h = rangeHeight;
  Adopt(rows, image, w, h);
  const int fillEnd = std::min(keyRow + h + kStitchBorder * 2, image.height - 1);
  const int copyRows = std::min(h - 2 * kStitchBorder, grab.height - matchRow);
  const int copyEnd = std::max(keyRow, std::min(keyRow + copyRows, image.height));
  // Below the copied rows the fill makes whole rows black; the rows known black already are
  // left alone, which spares rewriting a grab's worth of rows at every append.
  const int blackStart = std::max(copyEnd, keyRow + 1);
  for (int y = blackStart; y <= fillEnd && y < rows.blackFrom; ++y)
    std::memset(ViewRow(image, y), 0, sizeof(uint32_t) * image.width);
  // In the copied rows below the key row the fill's black stays only past the range width.
  for (int y = keyRow + 1; y < copyEnd && image.width > w; ++y)
    std::memset(ViewRow(image, y) + w, 0, sizeof(uint32_t) * (image.width - w));
  for (int y = keyRow; y < copyEnd; ++y)
    std::memcpy(ViewRow(image, y), ViewRow(grab, matchRow + (y - keyRow)), sizeof(uint32_t) * w);
  // Rows between the fill and blackFrom were not touched and may hold anything.
  if (rows.blackFrom <= fillEnd + 1) rows.blackFrom = blackStart;

  // Rows from the key row on are new; the rows the image ends with are learnt now, while
  // they are at hand.
  rows.knownRows = std::min(rows.knownRows, keyRow);
  if (rows.knownRows == keyRow)
    LearnRows(rows, image, StitchColumnsFor(w), keyRow + h - matchRow - kStitchBorder);
}
