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

#if defined(__SSE2__)
__m128i Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
bool AllOnes(__m128i v) { return _mm_movemask_epi8(v) == 0xFFFF; }
#endif

// The columns a uniform row is alike in: from the quarter column to the last middle column,
// every one of them. A row with ink there, even between the sampled columns, is a key row.
struct MiddleColumns {
  int quarter, last;
};
MiddleColumns MiddleOf(const StitchColumns& cols) {
  MiddleColumns m{cols.quarter, cols.quarter};
  for (int c = cols.firstMiddle; static_cast<float>(c) <= cols.scanBound; c += cols.step) m.last = c;
  return m;
}

// A uniform row makes no key row (it would match almost anywhere) and never ends a tick as
// unchanged (a blank strip under the text is blank at every scroll position).
bool Uniform(const uint32_t* row, const MiddleColumns& m) {
  const uint32_t reference = row[m.quarter];
  int c = m.quarter + 1;
#if defined(__SSE2__)
  const __m128i ref = _mm_set1_epi32(static_cast<int>(reference));
  for (; c + 3 <= m.last; c += 4)
    if (!AllOnes(_mm_cmpeq_epi32(Load(row + c), ref))) return false;
#endif
  for (; c <= m.last; ++c)
    if (row[c] != reference) return false;
  return true;
}

// All width columns agree.
bool RowsEqual(const uint32_t* a, const uint32_t* b, int width) {
  int c = 0;
#if defined(__SSE2__)
  for (; c + 15 < width; c += 16) {
    const __m128i e0 = _mm_and_si128(_mm_cmpeq_epi32(Load(a + c), Load(b + c)),
                                     _mm_cmpeq_epi32(Load(a + c + 4), Load(b + c + 4)));
    const __m128i e1 = _mm_and_si128(_mm_cmpeq_epi32(Load(a + c + 8), Load(b + c + 8)),
                                     _mm_cmpeq_epi32(Load(a + c + 12), Load(b + c + 12)));
    if (!AllOnes(_mm_and_si128(e0, e1))) return false;
  }
  for (; c + 3 < width; c += 4)
    if (!AllOnes(_mm_cmpeq_epi32(Load(a + c), Load(b + c)))) return false;
#endif
  for (; c < width; ++c)
    if (a[c] != b[c]) return false;
  return true;
}

// The columns of image row y that lie within the image's read bound: those past it are not
// compared.
int ColumnsInBound(const PixelView& image, int y, int w, int32_t imageBytes) {
  const int64_t rowOffset = 4 * (static_cast<int64_t>(image.width) * (image.height - 1 - y));
  const int64_t inBound = imageBytes < rowOffset ? 0 : (int64_t{imageBytes} - rowOffset) / 4 + 1;
  return static_cast<int>(std::min<int64_t>(w, inBound));
}

// The pairs, counted up from the image's last row and the grab's row endRow, that are equal
// before the first that is not; min(scrollY, endRow + 1) when every pair is.
int RowsEndingAlike(const PixelView& image, const PixelView& grab, int w, int scrollY, int32_t imageBytes, int endRow) {
  const int pairs = std::min(scrollY, endRow + 1);
  int k = 0;
  while (k < pairs && RowsEqual(ViewRow(image, scrollY - 1 - k), ViewRow(grab, endRow - k),
                                ColumnsInBound(image, scrollY - 1 - k, w, imageBytes)))
    ++k;
  return k;
}

// Steps before the search: nothing new visible, or the image full. True when the search runs;
// standing then holds the rows at the image's end that stand where the grab shows them still
// while a row above them does not: a band that does not scroll, such as a footer or a status
// bar (0 when there is none). Its rows would match themselves there and hold the image where it
// ends, and rows alike inside it could even match at the content's move: the key rows are
// looked for above it first.
bool NeedsSearch(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int maxHeight,
                 int32_t imageBytes, const MiddleColumns& middle, StitchDecision& d, int& standing) {
  // Nothing new is visible when the grab ends as the image does, row for row: from its last
  // row (whose uniformity is read in full whatever the bound), or from where the last append
  // left the image's end. The last rows alone do not tell when a band at the bottom of the range
  // stands still while the rows above it move; the second is the usual tick of a pause.
  if (scrollY != h && !Uniform(ViewRow(grab, h - 1), middle) &&
      RowsEndingAlike(image, grab, w, scrollY, imageBytes, h - 1) == std::min(scrollY, h)) {
    d.outcome = StitchOutcome::Unchanged;
    return false;
  }
  // Where the image's last row lies in a grab of the same screen: the first grab's last row,
  // or, after an append, the last row copied.
  const int endRow = scrollY == h ? h - 1 : h - 1 - kStitchBorder;
  const int alike = RowsEndingAlike(image, grab, w, scrollY, imageBytes, endRow);
  const bool allAlike = alike == std::min(scrollY, endRow + 1);
  if (scrollY != h && allAlike) {
    d.outcome = StitchOutcome::Unchanged;
    return false;
  }
  standing = allAlike ? 0 : alike;
  if (scrollY > maxHeight - h) {
    d.outcome = StitchOutcome::LimitReached;
    return false;
  }
  return true;
}

// The row pairs a place (key row y at grab row r) is checked on: image row y - k with grab row
// r - k for k below n. Rows under the key row are left out: they may be a blank strip or a
// band that does not scroll.
int OverlapOf(int y, int r) { return std::min(y, r) + 1; }
int AllowedDisagreements(int n) { return n / kDisagreeShare; }

// The pairs of the overlap whose rows are equal, counted until more than `allowed` differ
// (a count below n - allowed then only tells that the place does not qualify).
int AgreeingPairs(const PixelView& image, const PixelView& grab, int y, int r, int n, int w, int allowed) {
  int disagree = 0;
  for (int k = 0; k < n; ++k)
    if (!RowsEqual(ViewRow(image, y - k), ViewRow(grab, r - k), w) && ++disagree > allowed) break;
  return n - disagree;
}

// The best place of one key row among its candidates, offered from the largest grab row down:
// the most agreeing pairs, and on a tie the larger grab row (the smaller movement).
struct Best {
  int matchRow = -1;
  int agree = -1;
  // The disagreements past which a candidate with an overlap of n neither qualifies nor beats
  // the best so far: counting can stop there. Negative when it cannot win whatever its count;
  // overlaps only shrink further down the grab, so neither can any later candidate.
  int Allowed(int n) const { return std::min(AllowedDisagreements(n), n - agree - 1); }
  void Offer(int r, int n, int agreeing) {
    if (n - agreeing <= AllowedDisagreements(n) && agreeing > agree) {
      matchRow = r;
      agree = agreeing;
    }
  }
  bool Found() const { return matchRow >= 0; }
};

// The places a tick has judged, by their offset y - r: a place the overlap of a lower key row
// refused is not judged again for a higher one. Repeated structure offers the same few offsets
// to every key row of a repeated line, and judging each once keeps a tick that finds nothing
// near one reading of the grab.
struct Judged {
  std::vector<uint8_t> seen;  // offset + h
  int h;
  Judged(int scrollY, int rangeHeight) : seen(static_cast<size_t>(scrollY + rangeHeight + 1), 0), h(rangeHeight) {}
  bool Seen(int y, int r) const { return seen[static_cast<size_t>(y - r + h)] != 0; }
  void Mark(int y, int r) { seen[static_cast<size_t>(y - r + h)] = 1; }
  void Forget(int y, int r) { seen[static_cast<size_t>(y - r + h)] = 0; }
};

StitchDecision AppendAt(int y, int r, int h) {
  return StitchDecision{StitchOutcome::Append, y, r, y + h - r - kStitchBorder};
}

}  // namespace

StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes) {
  const int w = rangeWidth, h = rangeHeight;
  const MiddleColumns middle = MiddleOf(StitchColumnsFor(w));
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int band = 0;
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, middle, d, band)) return d;
  Judged judged(scrollY, h);
  // The first key row, from `from` up, with a place that qualifies.
  auto walk = [&](int from, Best& best) {
    for (int y = from; y >= kSmallestOverlap; --y) {
      const uint32_t* key = ViewRow(image, y);
      if (Uniform(key, middle)) continue;
      best = Best{};
      for (int r = h - 1; r >= kSmallestOverlap && best.Allowed(OverlapOf(y, r)) >= 0; --r) {
        if (judged.Seen(y, r) || !RowsEqual(ViewRow(grab, r), key, w)) continue;
        judged.Mark(y, r);
        const int n = OverlapOf(y, r);
        best.Offer(r, n, AgreeingPairs(image, grab, y, r, n, w, best.Allowed(n)));
      }
      if (best.Found()) return y;
    }
    return -1;
  };
  // Above a band that stands still, the rows that moved decide; when they find nothing, the
  // search starts over from the image's end.
  if (band > 0) {
    Best above;
    const int y = walk(scrollY - 1 - band, above);
    if (y >= 0) return AppendAt(y, above.matchRow, h);
    judged = Judged(scrollY, h);
  }
  Best best;
  const int y = walk(scrollY - 1, best);
  return y >= 0 ? AppendAt(y, best.matchRow, h) : d;
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
// The products of the pairs among four pixels with their keys added, one 64-bit lane each.
__m128i PairProducts(__m128i pixels, const uint32_t* keys) {
  const __m128i a = _mm_add_epi32(pixels, Load(keys));
  return _mm_mul_epu32(a, _mm_srli_epi64(a, 32));
}

uint64_t Sum(__m128i acc0, __m128i acc1) {
  uint64_t lanes[2];  // the 32-bit Windows stack promises no 16-byte alignment
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(acc0, acc1));
  return lanes[0] + lanes[1];
}
#endif

// The pairs from column c (even) on, one by one; an odd last pixel is paired with a key.
uint64_t PairTail(const uint32_t* row, int c, int width, const uint32_t* keys) {
  uint64_t sum = 0;
  for (; c + 1 < width; c += 2)
    sum += uint64_t{static_cast<uint32_t>(row[c] + keys[c])} * static_cast<uint32_t>(row[c + 1] + keys[c + 1]);
  if (c < width) sum += uint64_t{static_cast<uint32_t>(row[c] + keys[c])} * (keys[c + 1] | 1u);
  return sum;
}

}  // namespace

uint64_t KeyedRowHash(const uint32_t* row, int width, const uint32_t* keys) {
  int c = 0;
  uint64_t sum = 0;
#if defined(__SSE2__)
  // No load reaches past width, so the row needs no columns beyond the range.
  __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
  for (; c + 7 < width; c += 8) {
    acc0 = _mm_add_epi64(acc0, PairProducts(Load(row + c), keys + c));
    acc1 = _mm_add_epi64(acc1, PairProducts(Load(row + c + 4), keys + c + 4));
  }
  sum = Sum(acc0, acc1);
#endif
  return sum + PairTail(row, c, width, keys);
}

namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void Describe(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int blackFrom) {
  rows.pixels = image.pixels;
  rows.width = image.width;
  rows.height = image.height;
  rows.rangeWidth = rangeWidth;
  rows.rangeHeight = rangeHeight;
  rows.keys.resize(static_cast<size_t>(std::max(rangeWidth, 0)) + 1);
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
void LearnRows(StitchRows& rows, const PixelView& image, const MiddleColumns& middle, int upTo) {
  upTo = std::min(upTo, rows.height);
  for (int y = upTo - 1; y >= rows.knownRows; --y) {  // in memory order
    const uint32_t* row = ViewRow(image, y);
    rows.hash[static_cast<size_t>(y)] = KeyedRowHash(row, rows.rangeWidth, rows.keys.data()) & rows.hashMask;
    rows.uniform[static_cast<size_t>(y)] = Uniform(row, middle);
  }
  rows.knownRows = std::max(rows.knownRows, upTo);
}

// Copies the range's columns of a row and returns their KeyedRowHash, taken on the way through
// rather than by reading the row again.
uint64_t CopyRowHashing(const uint32_t* from, uint32_t* to, int width, const uint32_t* keys) {
  int c = 0;
  uint64_t sum = 0;
#if defined(__SSE2__)
  __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
  for (; c + 7 < width; c += 8) {
    const __m128i v0 = Load(from + c), v1 = Load(from + c + 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c), v0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c + 4), v1);
    acc0 = _mm_add_epi64(acc0, PairProducts(v0, keys + c));
    acc1 = _mm_add_epi64(acc1, PairProducts(v1, keys + c + 4));
  }
  sum = Sum(acc0, acc1);
#endif
  std::memcpy(to + c, from + c, sizeof(uint32_t) * (width - c));
  return sum + PairTail(from, c, width, keys);
}

size_t SlotOf(uint64_t hash, size_t mask) {
  return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> 40) & mask;
}

// Every grab row by its hash: the slot of a hash holds its highest row, and grabNext leads
// down through the lower rows of the same hash.
void IndexGrab(StitchRows& rows, const PixelView& grab, int w, int h) {
  size_t size = 16;
  while (size < 2 * static_cast<size_t>(h)) size *= 2;
  rows.grabHash.resize(static_cast<size_t>(h));
  rows.grabNext.resize(static_cast<size_t>(h));
  rows.slots.assign(size, -1);
  // Bottom-up surfaces: from the last row up is from low addresses to high, as prefetching likes.
  for (int g = h - 1; g >= 0; --g)
    rows.grabHash[static_cast<size_t>(g)] = KeyedRowHash(ViewRow(grab, g), w, rows.keys.data()) & rows.hashMask;
  for (int g = 0; g < h; ++g) {
    const uint64_t hash = rows.grabHash[static_cast<size_t>(g)];
    size_t s = SlotOf(hash, size - 1);
    while (rows.slots[s] >= 0 && rows.grabHash[static_cast<size_t>(rows.slots[s])] != hash) s = (s + 1) & (size - 1);
    rows.grabNext[static_cast<size_t>(g)] = rows.slots[s];
    rows.slots[s] = g;
  }
}

// The highest grab row of the key row's hash, or -1; grabNext leads to the lower ones.
int FirstOfHash(const StitchRows& rows, uint64_t keyHash) {
  const size_t mask = rows.slots.size() - 1;
  size_t s = SlotOf(keyHash, mask);
  int32_t g;
  while ((g = rows.slots[s]) >= 0 && rows.grabHash[static_cast<size_t>(g)] != keyHash) s = (s + 1) & mask;
  return g;
}

// The first column of the key row unlike its first pixel, past the even margin of a page:
// where a comparison with another row most likely fails at once. 0 for an even row.
int LiteralStart(const uint32_t* key, int width) {
  int c = 1;
  while (c < width && key[c] == key[0]) ++c;
  return c < width ? c : 0;
}

// The literal search for one key row, paying each row reached and each pixel compared out of
// the budget. False when the budget ran out before the key row was decided.
bool LiteralKeyRow(const PixelView& image, const PixelView& grab, int y, int w, int h, int64_t& budget, Best& best,
                   Judged& judged, std::vector<int>& judgedHere) {
  const uint32_t* key = ViewRow(image, y);
  const int start = LiteralStart(key, w);
  budget -= start;
  for (int r = h - 1; r >= kSmallestOverlap && best.Allowed(OverlapOf(y, r)) >= 0; --r) {
    if (budget <= 0) return false;
    const uint32_t* row = ViewRow(grab, r);
    budget -= kRowCompareCharge;
    if (row[start] != key[start]) continue;  // the usual end, spared the setting up of a whole comparison
    if (judged.Seen(y, r)) continue;
    budget -= w;
    if (!RowsEqual(row, key, w)) continue;
    judged.Mark(y, r);
    judgedHere.push_back(r);
    const int n = OverlapOf(y, r), allowed = best.Allowed(n);
    int disagree = 0, k = 1;
    for (; k < n && disagree <= allowed; ++k) {
      if (budget <= 0) return false;
      budget -= kRowCompareCharge + w;
      disagree += !RowsEqual(ViewRow(image, y - k), ViewRow(grab, r - k), w);
    }
    best.Offer(r, n, n - disagree);
  }
  return true;
}

// The same search on hashes: candidates through the grab's index, each confirmed equal at
// every column, and their overlaps counted on hashes. Equal rows hash equal, so a collision can
// only count a pair as agreeing that does not: the counts are never below the literal ones.
void HashedKeyRow(const StitchRows& rows, const PixelView& image, const PixelView& grab, int y, int w, Best& best,
                  Judged& judged) {
  const uint32_t* key = ViewRow(image, y);
  const uint64_t* imageHash = rows.hash.data();
  const uint64_t* grabHash = rows.grabHash.data();
  for (int r = FirstOfHash(rows, imageHash[y]); r >= kSmallestOverlap && best.Allowed(OverlapOf(y, r)) >= 0;
       r = rows.grabNext[static_cast<size_t>(r)]) {
    if (judged.Seen(y, r) || !RowsEqual(ViewRow(grab, r), key, w)) continue;
    judged.Mark(y, r);
    const int n = OverlapOf(y, r), allowed = best.Allowed(n);
    int disagree = 0;
    for (int k = 1; k < n && disagree <= allowed; ++k) disagree += imageHash[y - k] != grabHash[r - k];
    best.Offer(r, n, n - disagree);
  }
}

}  // namespace

void ResetStitchRows(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int writtenRows,
                     uint64_t seed) {
  rows.seed = seed;
  Describe(rows, image, rangeWidth, rangeHeight, writtenRows);
  LearnRows(rows, image, MiddleOf(StitchColumnsFor(rangeWidth)), writtenRows);
}

StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, StitchRows& rows, int64_t literalSamples) {
  const int w = rangeWidth, h = rangeHeight;
  const MiddleColumns middle = MiddleOf(StitchColumnsFor(w));
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int band = 0;
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, middle, d, band)) return d;
  Adopt(rows, image, w, h);
  LearnRows(rows, image, middle, scrollY);
  // The usual tick decides its first key row after a scan of the grab and one literal check of
  // the overlap. Past about that much, the grab's rows are hashed and indexed instead.
  int64_t literalLeft = literalSamples >= 0 ? literalSamples : int64_t{h} * (w + 2 * kRowCompareCharge);
  bool indexed = false;
  Judged judged(scrollY, h);
  std::vector<int> judgedHere;
  bool miscounted = false;
  // As the literal walk: the first key row, from `from` up, with a place that qualifies.
  auto walk = [&](int from, Best& best) {
    for (int y = from; y >= kSmallestOverlap; --y) {
      if (rows.uniform[static_cast<size_t>(y)]) continue;
      best = Best{};
      if (!indexed) {
        judgedHere.clear();
        if (LiteralKeyRow(image, grab, y, w, h, literalLeft, best, judged, judgedHere)) {
          if (best.Found()) return y;
          continue;
        }
        // The key row is searched again, all on hashes, as if never begun.
        for (const int r : judgedHere) judged.Forget(y, r);
        best = Best{};
        IndexGrab(rows, grab, w, h);
        indexed = true;
        ++rows.indexBuilds;
      }
      HashedKeyRow(rows, image, grab, y, w, best, judged);
      if (!best.Found()) continue;
      // The count chosen is the literal one unless a collision raised it; then no other count
      // can be trusted either, and the literal search decides the tick.
      const int n = OverlapOf(y, best.matchRow);
      if (AgreeingPairs(image, grab, y, best.matchRow, n, w, AllowedDisagreements(n)) != best.agree) miscounted = true;
      return y;
    }
    return -1;
  };
  auto literally = [&] {
    ++rows.literalFallbacks;
    return DecideStitchLiteral(image, grab, w, h, scrollY, maxHeight, imageBytes);
  };
  if (band > 0) {
    Best above;
    const int y = walk(scrollY - 1 - band, above);
    if (miscounted) return literally();
    if (y >= 0) return AppendAt(y, above.matchRow, h);
    judged = Judged(scrollY, h);
  }
  Best best;
  const int y = walk(scrollY - 1, best);
  if (miscounted) return literally();
  return y >= 0 ? AppendAt(y, best.matchRow, h) : d;
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
  const MiddleColumns middle = MiddleOf(StitchColumnsFor(w));
  rows.knownRows = std::min(rows.knownRows, keyRow);
  const bool learning = rows.knownRows == keyRow;
  for (int y = copyEnd - 1; y >= keyRow; --y) {  // in memory order
    uint32_t* to = ViewRow(image, y);
    const uint64_t hash = CopyRowHashing(ViewRow(grab, matchRow + (y - keyRow)), to, w, rows.keys.data()) & rows.hashMask;
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
  LearnRows(rows, image, middle, std::min(keyRow + h - matchRow - kStitchBorder, rows.height));
}
