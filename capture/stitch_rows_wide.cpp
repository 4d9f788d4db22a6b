#include "capture/stitch_rows_wide.h"

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <immintrin.h>

namespace stitching {

// Each kernel keeps its few vectors in registers: GCC cannot align the 64-bit Windows stack to
// the 32 bytes a spilled vector would need.
#define WIDE __attribute__((target("avx2")))

namespace {
bool useWide = true;

WIDE inline __m256i LoadWide(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
WIDE inline __m256i Differ(const uint32_t* a, const uint32_t* b) { return _mm256_xor_si256(LoadWide(a), LoadWide(b)); }

WIDE inline bool Agree32(const uint32_t* a, const uint32_t* b) {
  const __m256i d = _mm256_or_si256(_mm256_or_si256(Differ(a, b), Differ(a + 8, b + 8)),
                                    _mm256_or_si256(Differ(a + 16, b + 16), Differ(a + 24, b + 24)));
  return _mm256_testz_si256(d, d) != 0;
}

}  // namespace

bool WideRows() {
  static const bool available = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
  return available && useWide;
}

void UseWideRows(bool use) { useWide = use; }

WIDE int AgreeingBlocksWide(const uint32_t* a, const uint32_t* b, int c, int end) {
  while (c + 32 <= end && Agree32(a + c, b + c)) c += 32;
  return c;
}

WIDE int AgreeingBlocksBackWide(const uint32_t* a, const uint32_t* b, int begin, int end) {
  while (end - 32 > begin && Agree32(a + end - 32, b + end - 32)) end -= 32;
  return end;
}

WIDE bool RowsEqualWide(const uint32_t* a, const uint32_t* b, int begin, int end) {
  // Its own loop, returning at the first block that differs: walked as AgreeingBlocksWide
  // walks, the usual tick takes 6 % more instructions.
  int c = begin;
  for (; c + 32 <= end; c += 32)
    if (!Agree32(a + c, b + c)) return false;
  for (; c + 8 <= end; c += 8) {
    const __m256i d = Differ(a + c, b + c);
    if (!_mm256_testz_si256(d, d)) return false;
  }
  for (; c < end; ++c)
    if (a[c] != b[c]) return false;
  return true;
}

WIDE uint64_t PairSumWide(const uint32_t* row, int& c, int end, const uint32_t* keys, uint32_t* to) {
  __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
  for (; c + 15 < end; c += 16) {
    const __m256i v0 = LoadWide(row + c), v1 = LoadWide(row + c + 8);
    if (to != nullptr) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + c), v0);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + c + 8), v1);
    }
    const __m256i a0 = _mm256_add_epi32(v0, LoadWide(keys + c)), a1 = _mm256_add_epi32(v1, LoadWide(keys + c + 8));
    acc0 = _mm256_add_epi64(acc0, _mm256_mul_epu32(a0, _mm256_srli_epi64(a0, 32)));
    acc1 = _mm256_add_epi64(acc1, _mm256_mul_epu32(a1, _mm256_srli_epi64(a1, 32)));
  }
  const __m256i acc = _mm256_add_epi64(acc0, acc1);
  const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  uint64_t lanes[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), half);
  return lanes[0] + lanes[1];
}

}  // namespace stitching

#else

namespace stitching {
bool WideRows() { return false; }
void UseWideRows(bool) {}
bool RowsEqualWide(const uint32_t*, const uint32_t*, int, int) { return false; }
int AgreeingBlocksWide(const uint32_t*, const uint32_t*, int c, int) { return c; }
int AgreeingBlocksBackWide(const uint32_t*, const uint32_t*, int, int end) { return end; }
uint64_t PairSumWide(const uint32_t*, int&, int, const uint32_t*, uint32_t*) { return 0; }
}  // namespace stitching

#endif
