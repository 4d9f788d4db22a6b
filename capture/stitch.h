// The stitching decision and its pixel effect, over plain pixel views: where does the bottom
// of the tall image lie in the new grab, and what does the image become.
#ifndef TALLSNAP_CAPTURE_STITCH_H
#define TALLSNAP_CAPTURE_STITCH_H

#include <cstdint>
#include <vector>

// A bottom-up 32-bit surface as it lies in memory: row y (0 = top) starts at
// pixels + width x (height - 1 - y).
struct PixelView {
  uint32_t* pixels;
  int width;
  int height;
};

inline uint32_t* ViewRow(const PixelView& v, int y) {
  return v.pixels + static_cast<intptr_t>(v.width) * (v.height - 1 - y);
}

// The numbers derived from the range width, each quotient rounded to a 32-bit float first.
struct StitchColumns {
  int quarter;       // trunc(W / 4)
  int step;          // column step s: trunc(W / quarter), at least 1
  int firstMiddle;   // trunc(W / 4 + 1)
  float scanBound;   // 3 x W / 4 - 1: a middle column c is used while c <= this
};
StitchColumns StitchColumnsFor(int width);

enum class StitchOutcome {
  Unchanged,     // the grab ends as the image does, row for row (from its last row, not a blank one, or from
                 // the last row an append copied): nothing new is visible
  LimitReached,  // the image is full: capturing stops
  NoMatch,       // no key row of the image has a place in the grab that its rows above confirm
  Append,        // grab rows from matchRow on replace image rows from keyRow on
};

struct StitchDecision {
  StitchOutcome outcome;
  int keyRow;    // y of the key row
  int matchRow;  // r of the grab row it was joined at
  int newScrollY;
};

// What the fast search keeps between ticks about the rows of the tall image, and its scratch
// for the grab: owned by the session beside the surfaces. Rows of the image only change where
// an append writes them, so their hashes and uniformity are learnt once, and rows never written
// need no black fill. An image, width or range other than the one it describes makes it start
// over, trusting nothing; anything else that writes the image must reset it.
struct StitchRows {
  const uint32_t* pixels = nullptr;  // the image described
  int width = 0;
  int height = 0;
  int rangeWidth = 0;
  int rangeHeight = 0;
  uint64_t seed = 0;
  std::vector<uint32_t> keys;      // one per column and a few more: the hash is unknown to the content
  std::vector<uint64_t> hash;      // per image row, of all its W columns
  std::vector<uint8_t> uniform;    // per image row: its columns quarter .. last middle are all alike
  int knownRows = 0;               // rows 0 .. knownRows - 1 have their hash and uniformity
  int blackFrom = 0;               // rows blackFrom .. height - 1 are black in every column
  uint64_t hashMask = ~uint64_t{0};  // tests narrow it (before the reset) to force collisions
  // The grab's rows by hash, built on the ticks whose literal comparisons ran out.
  uint32_t indexBuilds = 0;        // how many ticks built it, for the benchmarks
  uint32_t literalFallbacks = 0;   // ticks whose chosen place a hash collision miscounted
  std::vector<uint64_t> grabHash;
  std::vector<int32_t> grabNext;   // the next lower grab row of the same hash, or -1
  std::vector<int32_t> slots;      // open addressing: the highest grab row of a hash, or -1
};

// Describe a freshly seeded image and learn its rows 0 .. writtenRows - 1 (outside the ticks);
// rows from writtenRows down are still black as the surface was made (the caller vouches for
// that). seed draws the hash keys.
void ResetStitchRows(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int writtenRows,
                     uint64_t seed);

// Keyed hash of a row's width columns, taken in pairs: the sum of (a + k) x (b + k') over
// the pairs, each factor modulo 2^32, the sum modulo 2^64 (keys holds width + 1 keys). Equal
// rows hash equal, and two given rows that differ collide with a probability of about 2^-32
// over the keys.
uint64_t KeyedRowHash(const uint32_t* row, int width, const uint32_t* keys);

// image: the tall image (width W + 6); grab: the latest grab (width W + 6, height H + 6).
// scrollY: rows of the image in use (at most the image's height); maxHeight: the image's row
// limit (4000); imageBytes: the image's read bound (its dibBytes). The grab's rows are compared
// literally for a while, then indexed by hash, so that a key row finds its candidates and
// their overlaps are counted without comparing whole rows again; the place chosen is confirmed
// literally, and the result is always the literal search's.
// literalSamples: budget of literal comparisons before the index, in pixels compared plus
// kRowCompareCharge a row reached (-1: about one comparison of the whole grab).
StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, StitchRows& rows,
                            int64_t literalSamples = -1);

// The same decision by comparing the key rows with the grab rows one by one: the reference.
StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes);

// The append: rows keyRow + 1 .. keyRow + H + 6 of the image turn black, then rows
// matchRow .. H - 4 of the grab (the black rows below the grab for matchRow < 3 included) are
// copied to the image from keyRow on, W columns wide. Rows the record knows to be black are
// not filled again, and the record learns the new image rows.
void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow, StitchRows& rows);

// The same pixels, filling every row: the reference.
void ApplyStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                        int matchRow);

constexpr int kStitchBorder = 3;   // rows and columns round the grab that are never part of the image
// A key row's match lies at grab row 22 or lower, and the key row at image row 22 or lower:
// the overlap holds at least 23 row pairs and never reaches above the image.
constexpr int kSmallestOverlap = 22;
// A place qualifies when at most 1 / 8 of its overlap's row pairs differ: a blinking caret or
// a small animation stays well below, unrelated text whose blank rows agree stays far above.
constexpr int kDisagreeShare = 8;
constexpr int kRowCompareCharge = 8;  // what reaching a row costs, in pixels compared

#endif
