// Rows and how two of them compare, pixel for pixel or by a keyed hash: what the whole stitching
// reads pixels with.
#ifndef TALLSNAP_CAPTURE_STITCH_ROWS_H
#define TALLSNAP_CAPTURE_STITCH_ROWS_H

#include <cstdint>

#include "capture/stitch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The stitching's own pieces, shared by its files and by nothing else.
namespace stitching {

// Columns begin .. end - 1.
struct Span {
  int begin, end;
  bool operator==(const Span& o) const { return begin == o.begin && end == o.end; }
};

// The middle half of the row: a row alike there is uniform. It makes no key row (it would
// match almost anywhere), gives no evidence for a place, and never ends a tick as unchanged (a
// blank strip under the text is blank at every scroll position).
inline Span MiddleOf(int w) { return Span{w / 4, 3 * w / 4}; }

bool IsUniform(const uint32_t* row, Span m);

// The columns of the span agree.
bool RowsEqual(const uint32_t* a, const uint32_t* b, Span s);

// The columns of the span from the first that differs to the last that does ({s.end, s.end}:
// none).
Span UnlikeWithin(const uint32_t* a, const uint32_t* b, Span s);

// Of the 16 pixels from column x on, one bit each (column x in bit 0): where `here` shows what
// `before` did (same), and of those, where it shows neither what `content` does nor `ground`.
struct PixelBits {
  uint32_t same, stood;
};
// The same of the n pixels (n <= 16) from column x on, one by one: a row's last few.
PixelBits SameAndUnlikeFew(const uint32_t* here, const uint32_t* before, const uint32_t* content, uint32_t ground, int x,
                           int n);
// Inline, as a row is told block by block: where no pixel shows what `before` did, `stood` is 0
// and the other row is not read.
inline PixelBits SameAndUnlike(const uint32_t* here, const uint32_t* before, const uint32_t* content, uint32_t ground,
                               int x) {
#if defined(__SSE2__)
  const auto load = [&](const uint32_t* row, int k) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 4 * k));
  };
  // Four masks of four pixels to one bit a pixel, column x in bit 0.
  const auto bitsOf = [](__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(_mm_packs_epi32(m0, m1), _mm_packs_epi32(m2, m3))));
  };
  __m128i now[4], same[4];
  for (int k = 0; k < 4; ++k) {
    now[k] = load(here, k);
    same[k] = _mm_cmpeq_epi32(now[k], load(before, k));
  }
  PixelBits bits{bitsOf(same[0], same[1], same[2], same[3]), 0};
  if (bits.same == 0) return bits;
  const __m128i g = _mm_set1_epi32(static_cast<int>(ground));
  __m128i stood[4];
  for (int k = 0; k < 4; ++k)
    stood[k] = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi32(now[k], load(content, k)), _mm_cmpeq_epi32(now[k], g)),
                                same[k]);
  bits.stood = bitsOf(stood[0], stood[1], stood[2], stood[3]);
  return bits;
#else
  return SameAndUnlikeFew(here, before, content, ground, x, 16);
#endif
}

// The first column of the key row's span unlike its first pixel, past the even margin of a
// page, and the last one unlike its last pixel: where a comparison with another row most likely
// fails at once. The span's first and last for an even row.
struct KeyColumns {
  int first, last;
};
KeyColumns KeyColumnsOf(const uint32_t* key, Span s);
inline bool MaybeEqual(const uint32_t* row, const uint32_t* key, KeyColumns k) {
  return row[k.first] == key[k.first] && row[k.last] == key[k.last];
}

// The columns of image row y that lie within the image's read bound: those past it are not
// compared.
int ColumnsInBound(const PixelView& image, int y, int w, int32_t imageBytes);

// The pairs, counted up from the image's last row and the grab's row endRow to the grab's row
// `top`, that are equal before the first that is not; all of them when every pair is.
int RowsEndingAlike(const PixelView& image, const PixelView& grab, int w, int scrollY, int32_t imageBytes, int endRow,
                    int top);

// The keyed hash of the pairs of columns begin (even) .. end - 1, as KeyedRowHash takes them;
// with `to`, the columns are copied there on the way.
uint64_t PairSum(const uint32_t* row, int begin, int end, const uint32_t* keys, uint32_t* to);

// A keyed hash of the span's columns: the pairs KeyedRowHash takes that lie in it, and a column
// whose pair it cuts alone, as an odd last pixel is taken.
uint64_t SpanHash(const uint32_t* row, Span s, const uint32_t* keys);

// The same, from rowHash, the KeyedRowHash of the row's w columns, reading only the columns
// outside the span: what a scroll bar leaves of a row known already.
uint64_t SpanHashFrom(uint64_t rowHash, const uint32_t* row, int w, Span s, const uint32_t* keys);

}  // namespace stitching

#endif
