#include "capture/stitch.h"

#include <algorithm>
#include <cstring>
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

// The key-row walk shared by both searches; uniform(y) tells whether image row y makes no key
// row, findMatch(y, r) gives the largest grab row <= r whose sampled columns equal image row
// y's, or -1.
template <typename Uniform, typename FindMatch>
StitchDecision WalkKeyRows(int h, int scrollY, Uniform uniform, FindMatch findMatch) {
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int matches = 0;
  int firstY = 0, firstR = 0;
  for (int y = scrollY - 1; y >= 0; --y) {
    if (uniform(y)) continue;
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
  const auto uniform = [&](int y) { return MiddleColumnsUniform(ViewRow(image, y), cols); };
  return WalkKeyRows(h, scrollY, uniform, [&](int y, int r) {
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

namespace {

#if defined(__SSE2__)
__m128i Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Four columns step 4 apart, from the first pixel of each of v0 .. v3, are found in the 32-bit
// lanes 0 and 2 of the two results.
void Gather(__m128i v0, __m128i v1, __m128i v2, __m128i v3, __m128i& first, __m128i& second) {
  first = _mm_unpacklo_epi64(v0, v1);
  second = _mm_unpacklo_epi64(v2, v3);
}

// The products of four such columns with their keys, two to a multiply.
void AddProducts(__m128i& acc0, __m128i& acc1, __m128i v0, __m128i v1, __m128i v2, __m128i v3,
                 const uint32_t* keys) {
  __m128i p01, p23;
  Gather(v0, v1, v2, v3, p01, p23);
  const __m128i k = Load(keys);
  acc0 = _mm_add_epi64(acc0, _mm_mul_epu32(p01, _mm_shuffle_epi32(k, _MM_SHUFFLE(1, 1, 0, 0))));
  acc1 = _mm_add_epi64(acc1, _mm_mul_epu32(p23, _mm_shuffle_epi32(k, _MM_SHUFFLE(3, 3, 2, 2))));
}

uint64_t Sum(__m128i acc0, __m128i acc1) {
  uint64_t lanes[2];  // the 32-bit Windows stack promises no 16-byte alignment
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(acc0, acc1));
  return lanes[0] + lanes[1];
}

// Lanes 0 and 2 of both comparisons are all ones.
bool GatheredEqual(__m128i eq01, __m128i eq23) {
  return (_mm_movemask_epi8(_mm_and_si128(eq01, eq23)) & 0x0F0F) == 0x0F0F;
}
#endif

}  // namespace

uint64_t KeyedRowHash(const uint32_t* row, int width, int step, const uint32_t* keys) {
  uint64_t sum = 0;
  int c = 0, i = 0;
#if defined(__SSE2__)
  if (step == 4) {
    // Sixteen pixels a round, every fourth sampled. No load reaches past width, so the row
    // needs no columns beyond the range.
    __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
    for (; c + 15 < width; c += 16, i += 4)
      AddProducts(acc0, acc1, Load(row + c), Load(row + c + 4), Load(row + c + 8), Load(row + c + 12), keys + i);
    sum = Sum(acc0, acc1);
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

// The middle columns with their float bound turned into the last column it admits.
struct MiddleColumns {
  int quarter, first, last, step;
};
MiddleColumns MiddleOf(const StitchColumns& cols) {
  MiddleColumns m{cols.quarter, cols.firstMiddle, cols.firstMiddle - cols.step, cols.step};
  for (int c = cols.firstMiddle; static_cast<float>(c) <= cols.scanBound; c += cols.step) m.last = c;
  return m;
}

// MiddleColumnsUniform, four columns at a time for step 4.
bool Uniform(const uint32_t* row, const MiddleColumns& m) {
  const uint32_t reference = row[m.quarter];
  int c = m.first;
#if defined(__SSE2__)
  if (m.step == 4) {
    // The last load ends 3 pixels past the last middle column, still inside the range.
    const __m128i ref = _mm_set1_epi32(static_cast<int>(reference));
    for (; c + 12 <= m.last; c += 16) {
      __m128i p01, p23;
      Gather(Load(row + c), Load(row + c + 4), Load(row + c + 8), Load(row + c + 12), p01, p23);
      if (!GatheredEqual(_mm_cmpeq_epi32(p01, ref), _mm_cmpeq_epi32(p23, ref))) return false;
    }
  }
#endif
  for (; c <= m.last; c += m.step)
    if (row[c] != reference) return false;
  return true;
}

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
  const MiddleColumns middle = MiddleOf(cols);
  for (int y = upTo - 1; y >= rows.knownRows; --y) {  // in memory order
    const uint32_t* row = ViewRow(image, y);
    rows.hash[static_cast<size_t>(y)] = KeyedRowHash(row, rows.rangeWidth, cols.step, rows.keys.data()) & rows.hashMask;
    rows.uniform[static_cast<size_t>(y)] = Uniform(row, middle);
  }
  rows.knownRows = std::max(rows.knownRows, upTo);
}

// The first sampled column from `from` (a sampled column) below `to` at which the rows differ,
// or a column at or past `to` when they agree there.
int FirstDifference(const uint32_t* a, const uint32_t* b, int from, int to, int step) {
  int c = from;
#if defined(__SSE2__)
  if (step == 4) {
    for (; c + 15 < to; c += 16) {
      __m128i a01, a23, b01, b23;
      Gather(Load(a + c), Load(a + c + 4), Load(a + c + 8), Load(a + c + 12), a01, a23);
      Gather(Load(b + c), Load(b + c + 4), Load(b + c + 8), Load(b + c + 12), b01, b23);
      if (!GatheredEqual(_mm_cmpeq_epi32(a01, b01), _mm_cmpeq_epi32(a23, b23))) break;
    }
  }
#endif
  while (c < to && a[c] == b[c]) c += step;
  return c;
}

// Where a comparison with this key row most likely fails at once: its first sampled column
// unlike its first pixel, past the even margin of a page. The samples it read are taken off
// the budget.
int LiteralStart(const uint32_t* key, int width, int step, int64_t& budget) {
  int c = step;
  while (c < width && key[c] == key[0]) c += step;
  budget -= c / step;
  return c < width ? c : 0;
}

// SampledColumnsEqual beginning at the sampled column start and wrapping round, which takes
// its cost off the budget: the columns it read, plus kRowCompareCharge for reaching the row at
// all, which costs about as much as hashing that many columns even when the first one differs.
bool SampledColumnsEqualCounted(const uint32_t* a, const uint32_t* b, int width, int step, int start,
                                int64_t& budget) {
  if (a[start] != b[start]) {  // the usual end, spared the setting up of a longer comparison
    budget -= 1 + kRowCompareCharge;
    return false;
  }
  const int tail = FirstDifference(a, b, start, width, step);
  if (tail < width) {
    budget -= (tail - start) / step + 1 + kRowCompareCharge;
    return false;
  }
  const int head = FirstDifference(a, b, 0, start, step);
  budget -= (width - start) / step + head / step + 1 + kRowCompareCharge;
  return head >= start;
}

// Copies the range's columns of a row and returns their KeyedRowHash, taken on the way through
// rather than by reading the row again.
uint64_t CopyRowHashing(const uint32_t* from, uint32_t* to, int width, int step, const uint32_t* keys) {
#if defined(__SSE2__)
  if (step == 4) {
    __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
    int c = 0, i = 0;
    for (; c + 15 < width; c += 16, i += 4) {
      const __m128i v0 = Load(from + c), v1 = Load(from + c + 4), v2 = Load(from + c + 8), v3 = Load(from + c + 12);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c), v0);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c + 4), v1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c + 8), v2);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c + 12), v3);
      AddProducts(acc0, acc1, v0, v1, v2, v3, keys + i);
    }
    uint64_t sum = Sum(acc0, acc1);
    std::memcpy(to + c, from + c, sizeof(uint32_t) * (width - c));
    for (; c < width; c += step, ++i) sum += uint64_t{from[c]} * keys[i];
    return sum;
  }
#endif
  std::memcpy(to, from, sizeof(uint32_t) * width);
  return KeyedRowHash(to, width, step, keys);
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
  // Bottom-up surfaces: from the last row up is from low addresses to high, as prefetching likes.
  for (int g = h - 1; g >= 0; --g)
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
    if (g <= r && FirstDifference(ViewRow(grab, g), key, 0, w, step) >= w) return g;
  return -1;
}

}  // namespace

void ResetStitchRows(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int writtenRows,
                     uint64_t seed) {
  rows.seed = seed;
  Describe(rows, image, rangeWidth, rangeHeight, writtenRows);
  LearnRows(rows, image, StitchColumnsFor(rangeWidth), writtenRows);
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
    if (r >= 0 && literalLeft > 0) {
      const int start = LiteralStart(key, w, cols.step, literalLeft);
      for (; r >= 0 && literalLeft > 0; --r)
        if (SampledColumnsEqualCounted(ViewRow(grab, r), key, w, cols.step, start, literalLeft)) return r;
    }
    if (r < 0) return -1;
    if (!indexed) {
      IndexGrab(rows, grab, w, h, cols.step);
      indexed = true;
      ++rows.indexBuilds;
    }
    return FindIndexed(rows, grab, key, rows.hash[static_cast<size_t>(y)], r, w, cols.step);
  };
  // The literal search's walk, with the uniformity the record has learnt.
  return WalkKeyRows(h, scrollY, [&](int y) { return rows.uniform[static_cast<size_t>(y)] != 0; }, findMatch);
}

void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow, StitchRows& rows) {
  const int w = rangeWidth, h = rangeHeight;
  Adopt(rows, image, w, h);
  const int fillEnd = std::min(keyRow + h + kStitchBorder * 2, image.height - 1);
  const int copyRows = std::min(h - 2 * kStitchBorder, grab.height - matchRow);
  const int copyEnd = std::max(keyRow, std::min(keyRow + copyRows, image.height));
  // Below the copied rows the fill makes whole rows black; the rows known black already are
  // left alone, which spares rewriting a grab's worth of rows at every append. Consecutive
  // rows lie together in memory, the lowest row first.
  const int blackStart = std::max(copyEnd, keyRow + 1);
  const int blackLast = std::min(fillEnd, rows.blackFrom - 1);
  if (blackLast >= blackStart)
    std::memset(ViewRow(image, blackLast), 0,
                sizeof(uint32_t) * image.width * static_cast<size_t>(blackLast - blackStart + 1));
  // Rows from the key row on are new. When the record knows every row above them, each
  // copied row is learnt on its way through the copy, while it is at hand, instead of being
  // read once more.
  const StitchColumns cols = StitchColumnsFor(w);
  const MiddleColumns middle = MiddleOf(cols);
  rows.knownRows = std::min(rows.knownRows, keyRow);
  const bool learning = rows.knownRows == keyRow;
  for (int y = copyEnd - 1; y >= keyRow; --y) {  // in memory order
    uint32_t* to = ViewRow(image, y);
    const uint64_t hash =
        CopyRowHashing(ViewRow(grab, matchRow + (y - keyRow)), to, w, cols.step, rows.keys.data()) & rows.hashMask;
    // Below the key row the fill's black stays past the range width.
    if (y > keyRow && image.width > w) std::fill(to + w, to + image.width, 0u);
    if (learning) {
      rows.hash[static_cast<size_t>(y)] = hash;
      rows.uniform[static_cast<size_t>(y)] = Uniform(to, middle);
    }
  }
  if (learning) rows.knownRows = copyEnd;
  // Rows between the fill and blackFrom were not touched and may hold anything.
  if (rows.blackFrom <= fillEnd + 1) rows.blackFrom = blackStart;
  // The black rows the image may end with.
  LearnRows(rows, image, cols, std::min(keyRow + h - matchRow - kStitchBorder, rows.height));
}
