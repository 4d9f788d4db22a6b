#include "capture/stitch_rows.h"

#include <algorithm>
#include <cstring>

#include "capture/stitch_rows_wide.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stitching {

namespace {

#if defined(__SSE2__)
__m128i Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
bool AllOnes(__m128i v) { return _mm_movemask_epi8(v) == 0xFFFF; }

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

// The pairs from column c (even) up to end, one by one; an odd last pixel is paired with a key.
uint64_t PairTail(const uint32_t* row, int c, int end, const uint32_t* keys) {
  uint64_t sum = 0;
  for (; c + 1 < end; c += 2)
    sum += uint64_t{static_cast<uint32_t>(row[c] + keys[c])} * static_cast<uint32_t>(row[c + 1] + keys[c + 1]);
  if (c < end) sum += uint64_t{static_cast<uint32_t>(row[c] + keys[c])} * (keys[c + 1] | 1u);
  return sum;
}

}  // namespace

bool IsUniform(const uint32_t* row, Span m) {
  if (m.end - m.begin < 2) return true;
  const uint32_t reference = row[m.begin];
  int c = m.begin + 1;
#if defined(__SSE2__)
  const __m128i ref = _mm_set1_epi32(static_cast<int>(reference));
  const auto alike = [&](int k) { return _mm_cmpeq_epi32(Load(row + k), ref); };
  for (; c + 16 <= m.end; c += 16)
    if (!AllOnes(_mm_and_si128(_mm_and_si128(alike(c), alike(c + 4)), _mm_and_si128(alike(c + 8), alike(c + 12)))))
      return false;
  for (; c + 4 <= m.end; c += 4)
    if (!AllOnes(alike(c))) return false;
#endif
  for (; c < m.end; ++c)
    if (row[c] != reference) return false;
  return true;
}

#if defined(__SSE2__)
namespace {
// Columns c .. c + 15 agree.
__attribute__((always_inline)) inline bool Equal16(const uint32_t* a, const uint32_t* b, int c) {
  const __m128i e0 = _mm_and_si128(_mm_cmpeq_epi32(Load(a + c), Load(b + c)),
                                   _mm_cmpeq_epi32(Load(a + c + 4), Load(b + c + 4)));
  const __m128i e1 = _mm_and_si128(_mm_cmpeq_epi32(Load(a + c + 8), Load(b + c + 8)),
                                   _mm_cmpeq_epi32(Load(a + c + 12), Load(b + c + 12)));
  return AllOnes(_mm_and_si128(e0, e1));
}
}  // namespace
#endif

bool RowsEqual(const uint32_t* a, const uint32_t* b, Span s) {
  if (WideRows()) return RowsEqualWide(a, b, s.begin, s.end);
  int c = s.begin;
#if defined(__SSE2__)
  for (; c + 16 <= s.end; c += 16)
    if (!Equal16(a, b, c)) return false;
  for (; c + 4 <= s.end; c += 4)
    if (!AllOnes(_mm_cmpeq_epi32(Load(a + c), Load(b + c)))) return false;
#endif
  for (; c < s.end; ++c)
    if (a[c] != b[c]) return false;
  return true;
}

Span UnlikeWithin(const uint32_t* a, const uint32_t* b, Span s) {
  if (WideRows()) {
    const int first = FirstUnlikeWide(a, b, s.begin, s.end);
    return first == s.end ? Span{s.end, s.end} : Span{first, LastUnlikeWide(a, b, first, s.end)};
  }
  // Blocks of columns at a time up to the one that differs, then one by one within it.
  int first = s.begin, last = s.end;
#if defined(__SSE2__)
  while (first + 16 <= last && Equal16(a, b, first)) first += 16;
#endif
  while (first < last && a[first] == b[first]) ++first;
  if (first == last) return Span{s.end, s.end};
#if defined(__SSE2__)
  while (last - 16 > first && Equal16(a, b, last - 16)) last -= 16;
#endif
  while (a[last - 1] == b[last - 1]) --last;
  return Span{first, last};
}

PixelBits SameAndUnlikeFew(const uint32_t* here, const uint32_t* before, const uint32_t* content, uint32_t ground, int x,
                           int n) {
  PixelBits bits{0, 0};
  for (int k = 0; k < n; ++k) {
    const uint32_t now = here[x + k];
    if (now != before[x + k]) continue;
    bits.same |= 1u << k;
    if (now != content[x + k] && now != ground) bits.stood |= 1u << k;
  }
  return bits;
}

KeyColumns KeyColumnsOf(const uint32_t* key, Span s) {
  int c = s.begin + 1;
  while (c < s.end && key[c] == key[s.begin]) ++c;
  int d = s.end - 2;
  while (d >= s.begin && key[d] == key[s.end - 1]) --d;
  return KeyColumns{c < s.end ? c : s.begin, d >= s.begin ? d : s.end - 1};
}

int ColumnsInBound(const PixelView& image, int y, int w, int32_t imageBytes) {
  const int64_t rowOffset = 4 * (static_cast<int64_t>(image.width) * (image.height - 1 - y));
  const int64_t inBound = imageBytes < rowOffset ? 0 : (int64_t{imageBytes} - rowOffset) / 4 + 1;
  return static_cast<int>(std::min<int64_t>(w, inBound));
}

int RowsEndingAlike(const PixelView& image, const PixelView& grab, int w, int scrollY, int32_t imageBytes, int endRow,
                    int top) {
  const int pairs = std::min(scrollY, endRow + 1 - top);
  int k = 0;
  while (k < pairs && RowsEqual(ViewRow(image, scrollY - 1 - k), ViewRow(grab, endRow - k),
                                Span{0, ColumnsInBound(image, scrollY - 1 - k, w, imageBytes)}))
    ++k;
  return k;
}

uint64_t PairSum(const uint32_t* row, int begin, int end, const uint32_t* keys, uint32_t* to) {
  int c = begin;
  // No load reaches past end, so the row needs no columns beyond the range.
  uint64_t sum = WideRows() ? PairSumWide(row, c, end, keys, to) : 0;
#if defined(__SSE2__)
  if (end - c >= 8) {
    __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
    for (; c + 7 < end; c += 8) {
      const __m128i v0 = Load(row + c), v1 = Load(row + c + 4);
      if (to != nullptr) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c), v0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c + 4), v1);
      }
      acc0 = _mm_add_epi64(acc0, PairProducts(v0, keys + c));
      acc1 = _mm_add_epi64(acc1, PairProducts(v1, keys + c + 4));
    }
    sum += Sum(acc0, acc1);
  }
#endif
  if (to != nullptr) std::memcpy(to + c, row + c, sizeof(uint32_t) * static_cast<size_t>(end - c));
  return sum + PairTail(row, c, end, keys);
}

namespace {

// The pairs that lie in the span are those of columns begin .. end - 1 (both even), the rest of
// it a column at either end whose pair the span cuts, each taken alone.
struct Pairs {
  int begin, end;
};
Pairs PairsIn(Span s) { return Pairs{s.begin + (s.begin & 1), std::max(s.begin + (s.begin & 1), s.end - (s.end & 1))}; }

uint64_t CutPairs(const uint32_t* row, Span s, const uint32_t* keys) {
  const auto alone = [&](int c) { return uint64_t{static_cast<uint32_t>(row[c] + keys[c])} * (keys[c + 1] | 1u); };
  const uint64_t first = (s.begin & 1) && s.begin < s.end ? alone(s.begin) : 0;
  return first + ((s.end & 1) && s.end - 1 >= s.begin ? alone(s.end - 1) : 0);
}

}  // namespace

uint64_t SpanHash(const uint32_t* row, Span s, const uint32_t* keys) {
  const Pairs p = PairsIn(s);
  return PairSum(row, p.begin, p.end, keys, nullptr) + CutPairs(row, s, keys);
}

uint64_t SpanHashFrom(uint64_t rowHash, const uint32_t* row, int w, Span s, const uint32_t* keys) {
  const Pairs p = PairsIn(s);
  return rowHash - PairSum(row, 0, p.begin, keys, nullptr) - PairSum(row, p.end, w, keys, nullptr) +
         CutPairs(row, s, keys);
}

}  // namespace stitching

uint64_t KeyedRowHash(const uint32_t* row, int width, const uint32_t* keys) {
  return stitching::PairSum(row, 0, width, keys, nullptr);
}
