// Rows compared and hashed 32 and 16 columns at a time, and rows judged on their hashes four at
// a time, on processors with AVX2: the same answers as the 16-byte code, in about half the
// instructions, which is most of what a tick spends.
#ifndef TALLSNAP_CAPTURE_STITCH_ROWS_WIDE_H
#define TALLSNAP_CAPTURE_STITCH_ROWS_WIDE_H

#include <cstdint>

namespace stitching {

// Whether the processor has AVX2 and the system keeps its registers, and the wide code is not
// turned off.
bool WideRows();
// Turns the wide code off and on again: the tests run both ways on a machine that has AVX2.
void UseWideRows(bool use);

// Whether columns begin .. end - 1 agree.
bool RowsEqualWide(const uint32_t* a, const uint32_t* b, int begin, int end);

// The first column from c on, before end, where the rows differ: end where none does.
int FirstUnlikeWide(const uint32_t* a, const uint32_t* b, int c, int end);
// One past the last column before end where they differ, given that column `begin` does.
int LastUnlikeWide(const uint32_t* a, const uint32_t* b, int begin, int end);

// From column c, blocks of 32 columns while they lie before end and nothing stood in them, as
// SameAndUnlike tells it: where the first block where a column stood begins, or where no whole
// block is left.
int NothingStoodWide(const uint32_t* here, const uint32_t* before, const uint32_t* content, uint32_t ground, int c,
                     int end);

// The facts of rows judged on their hashes, four at a time while four are left before n:
// out[k] = RowFacts((image[k] & mask) == grab[k], uniform[k] != 0). Returns the rows done.
int HashedFactsWide(const uint64_t* image, const uint64_t* grab, const uint8_t* uniform, uint64_t mask, int n,
                    uint8_t* out);

// From row `to` down, blocks of 8 rows while they lie at or above `from` and none of their
// hashes, masked, is `hash`: the row the search goes on from.
int HashesUnlikeWide(const uint64_t* hashes, uint64_t mask, uint64_t hash, int from, int to);

// The keyed sum of the pairs of columns from c (even) on, 32 and then 16 columns at a time as
// long as they lie before end, copied to `to` on the way when it is given; c is left where it stopped.
uint64_t PairSumWide(const uint32_t* row, int& c, int end, const uint32_t* keys, uint32_t* to);

}  // namespace stitching

#endif
