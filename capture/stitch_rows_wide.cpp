#include "capture/stitch_rows_wide.h"

#include <cstring>

#include "capture/stitch_score.h"

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <immintrin.h>

namespace stitching {

// Each kernel keeps its few vectors in registers: GCC cannot align the 64-bit Windows stack to
// the 32 bytes a spilled vector would need.
#define WIDE __attribute__((target("avx2")))

namespace {

WIDE inline __m256i LoadWide(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
WIDE inline __m256i Differ(const uint32_t* a, const uint32_t* b) { return _mm256_xor_si256(LoadWide(a), LoadWide(b)); }

// Nonzero where any of 32 columns differ.
WIDE inline __m256i Differ32(const uint32_t* a, const uint32_t* b) {
  return _mm256_or_si256(_mm256_or_si256(Differ(a, b), Differ(a + 8, b + 8)),
                         _mm256_or_si256(Differ(a + 16, b + 16), Differ(a + 24, b + 24)));
}

WIDE inline bool Agree32(const uint32_t* a, const uint32_t* b) {
  const __m256i d = Differ32(a, b);
  return _mm256_testz_si256(d, d) != 0;
}

// One test for 64 columns: two tests of 32 cost the usual tick 2 % more instructions.
WIDE inline bool Agree64(const uint32_t* a, const uint32_t* b) {
  const __m256i d = _mm256_or_si256(Differ32(a, b), Differ32(a + 32, b + 32));
  return _mm256_testz_si256(d, d) != 0;
}

WIDE inline __m256i Same(const uint32_t* a, const uint32_t* b) { return _mm256_cmpeq_epi32(LoadWide(a), LoadWide(b)); }

// Bit k set where column k of the block differs.
WIDE inline uint32_t DifferBits8(const uint32_t* a, const uint32_t* b) {
  return ~static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(Same(a, b)))) & 0xFFu;
}
WIDE inline uint32_t DifferBits32(const uint32_t* a, const uint32_t* b) {
  return DifferBits8(a, b) | DifferBits8(a + 8, b + 8) << 8 | DifferBits8(a + 16, b + 16) << 16 |
         DifferBits8(a + 24, b + 24) << 24;
}

// All ones where a column of 8 shows what it showed before, unlike the ground.
WIDE inline __m256i SameInk8(const uint32_t* here, const uint32_t* before, __m256i ground) {
  const __m256i now = LoadWide(here);
  return _mm256_andnot_si256(_mm256_cmpeq_epi32(now, ground), _mm256_cmpeq_epi32(now, LoadWide(before)));
}

// Of those, the columns unlike the content too: where something stood.
WIDE inline __m256i Stood8(__m256i sameInk, const uint32_t* here, const uint32_t* content) {
  return _mm256_andnot_si256(_mm256_cmpeq_epi32(LoadWide(here), LoadWide(content)), sameInk);
}

bool Available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

// Asked at every row: a plain flag, set when the program starts.
bool useWide = Available();

WIDE inline void Store(uint32_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// Each pixel with its key added, the pairs multiplied: four 64-bit products.
WIDE inline __m256i PairProducts(__m256i pixels, const uint32_t* keys) {
  const __m256i a = _mm256_add_epi32(pixels, LoadWide(keys));
  return _mm256_mul_epu32(a, _mm256_srli_epi64(a, 32));
}

// The copy is taken out of the loop that only sums: the index hashes every grab row so.
template <bool kCopy>
WIDE inline uint64_t PairSumFrom(const uint32_t* row, int& at, int end, const uint32_t* keys, uint32_t* to) {
  int c = at;
  __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256(), acc2 = _mm256_setzero_si256(),
          acc3 = _mm256_setzero_si256();
  for (; c + 31 < end; c += 32) {
    const __m256i v0 = LoadWide(row + c), v1 = LoadWide(row + c + 8), v2 = LoadWide(row + c + 16),
                  v3 = LoadWide(row + c + 24);
    if (kCopy) Store(to + c, v0), Store(to + c + 8, v1), Store(to + c + 16, v2), Store(to + c + 24, v3);
    acc0 = _mm256_add_epi64(acc0, PairProducts(v0, keys + c));
    acc1 = _mm256_add_epi64(acc1, PairProducts(v1, keys + c + 8));
    acc2 = _mm256_add_epi64(acc2, PairProducts(v2, keys + c + 16));
    acc3 = _mm256_add_epi64(acc3, PairProducts(v3, keys + c + 24));
  }
  for (; c + 15 < end; c += 16) {
    const __m256i v0 = LoadWide(row + c), v1 = LoadWide(row + c + 8);
    if (kCopy) Store(to + c, v0), Store(to + c + 8, v1);
    acc0 = _mm256_add_epi64(acc0, PairProducts(v0, keys + c));
    acc1 = _mm256_add_epi64(acc1, PairProducts(v1, keys + c + 8));
  }
  at = c;
  const __m256i acc = _mm256_add_epi64(_mm256_add_epi64(acc0, acc1), _mm256_add_epi64(acc2, acc3));
  const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  uint64_t lanes[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), half);
  return lanes[0] + lanes[1];
}

}  // namespace

bool WideRows() { return useWide; }

void UseWideRows(bool use) { useWide = use && Available(); }

WIDE int FirstUnlikeWide(const uint32_t* a, const uint32_t* b, int c, int end) {
  while (c + 32 <= end && Agree32(a + c, b + c)) c += 32;
  if (c + 32 <= end) return c + __builtin_ctz(DifferBits32(a + c, b + c));
  for (; c + 8 <= end; c += 8)
    if (const uint32_t bits = DifferBits8(a + c, b + c)) return c + __builtin_ctz(bits);
  while (c < end && a[c] == b[c]) ++c;
  return c;
}

WIDE int LastUnlikeWide(const uint32_t* a, const uint32_t* b, int begin, int end) {
  while (end - 32 >= begin && Agree32(a + end - 32, b + end - 32)) end -= 32;
  if (end - 32 >= begin) return end - __builtin_clz(DifferBits32(a + end - 32, b + end - 32));
  for (; end - 8 >= begin; end -= 8)
    if (const uint32_t bits = DifferBits8(a + end - 8, b + end - 8)) return end - 8 + 32 - __builtin_clz(bits);
  while (a[end - 1] == b[end - 1]) --end;
  return end;
}

WIDE int NothingStoodWide(const uint32_t* here, const uint32_t* before, const uint32_t* content, uint32_t ground, int c,
                          int end) {
  const __m256i g = _mm256_set1_epi32(static_cast<int>(ground));
  for (; c + 32 <= end; c += 32) {
    // No column shows what it showed before but the ground (two lines of text, a picture that
    // changed): the content is not read.
    const __m256i s0 = SameInk8(here + c, before + c, g), s1 = SameInk8(here + c + 8, before + c + 8, g),
                  s2 = SameInk8(here + c + 16, before + c + 16, g), s3 = SameInk8(here + c + 24, before + c + 24, g);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(s0, s1), _mm256_or_si256(s2, s3));
    if (_mm256_testz_si256(any, any) != 0) continue;
    const __m256i low = _mm256_or_si256(Stood8(s0, here + c, content + c), Stood8(s1, here + c + 8, content + c + 8)),
                  high = _mm256_or_si256(Stood8(s2, here + c + 16, content + c + 16),
                                         Stood8(s3, here + c + 24, content + c + 24));
    const __m256i stood = _mm256_or_si256(low, high);
    if (_mm256_testz_si256(stood, stood) == 0) return c;
  }
  return c;
}

WIDE bool RowsEqualWide(const uint32_t* a, const uint32_t* b, int begin, int end) {
  // Its own loop, returning at the first block that differs: walked as FirstUnlikeWide
  // walks, the usual tick takes 6 % more instructions.
  int c = begin;
  for (; c + 64 <= end; c += 64)
    if (!Agree64(a + c, b + c)) return false;
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

WIDE int HashedFactsWide(const uint64_t* image, const uint64_t* grab, const uint8_t* uniform, uint64_t mask, int n,
                         uint8_t* out) {
  // Four bits, one per row, spread to the low bit of four bytes.
  static constexpr uint32_t kSpread[16] = {0x00000000, 0x00000001, 0x00000100, 0x00000101, 0x00010000, 0x00010001,
                                           0x00010100, 0x00010101, 0x01000000, 0x01000001, 0x01000100, 0x01000101,
                                           0x01010000, 0x01010001, 0x01010100, 0x01010101};
  static_assert(kAgree == 1 && kInk == 2, "the facts are spread as the agree and ink bits");
  const __m256i m = _mm256_set1_epi64x(static_cast<long long>(mask));
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const __m256i hashes = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(image + k)), m);
    const __m256i equal = _mm256_cmpeq_epi64(hashes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(grab + k)));
    const uint32_t agree = static_cast<uint32_t>(_mm256_movemask_pd(_mm256_castsi256_pd(equal)));
    uint32_t four;
    std::memcpy(&four, uniform + k, sizeof four);
    const __m128i blank = _mm_cmpeq_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), _mm_setzero_si128());
    const uint32_t ink = agree & static_cast<uint32_t>(_mm_movemask_epi8(blank)) & 0xFu;
    const uint32_t facts = kSpread[agree] | kSpread[ink] << 1;
    std::memcpy(out + k, &facts, sizeof facts);
  }
  return k;
}

WIDE int HashesUnlikeWide(const uint64_t* hashes, uint64_t mask, uint64_t hash, int from, int to) {
  const __m256i m = _mm256_set1_epi64x(static_cast<long long>(mask));
  const __m256i h = _mm256_set1_epi64x(static_cast<long long>(hash));
  for (; to - 7 >= from; to -= 8) {
    const __m256i low = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(hashes + to - 7)), m),
                  high = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(hashes + to - 3)), m);
    const __m256i equal = _mm256_or_si256(_mm256_cmpeq_epi64(low, h), _mm256_cmpeq_epi64(high, h));
    if (_mm256_testz_si256(equal, equal) == 0) break;
  }
  return to;
}

WIDE uint64_t PairSumWide(const uint32_t* row, int& c, int end, const uint32_t* keys, uint32_t* to) {
  return to != nullptr ? PairSumFrom<true>(row, c, end, keys, to) : PairSumFrom<false>(row, c, end, keys, to);
}

}  // namespace stitching

#else

namespace stitching {
bool WideRows() { return false; }
void UseWideRows(bool) {}
bool RowsEqualWide(const uint32_t*, const uint32_t*, int, int) { return false; }
int FirstUnlikeWide(const uint32_t*, const uint32_t*, int c, int) { return c; }
int LastUnlikeWide(const uint32_t*, const uint32_t*, int, int end) { return end; }
int NothingStoodWide(const uint32_t*, const uint32_t*, const uint32_t*, uint32_t, int c, int) { return c; }
uint64_t PairSumWide(const uint32_t*, int&, int, const uint32_t*, uint32_t*) { return 0; }
int HashedFactsWide(const uint64_t*, const uint64_t*, const uint8_t*, uint64_t, int, uint8_t*) { return 0; }
int HashesUnlikeWide(const uint64_t*, uint64_t, uint64_t, int, int to) { return to; }
}  // namespace stitching

#endif
