// The stitching decision and its pixel effect, over plain pixel views: where does the bottom
// of the tall image lie in the new grab, and what does the image become.
#ifndef TALLSNAP_CAPTURE_STITCH_H
#define TALLSNAP_CAPTURE_STITCH_H

#include <cstdint>

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
  Unchanged,     // the image's last row is the grab's last row: nothing new is visible
  LimitReached,  // the image is full: capturing stops
  NoMatch,       // the bottom of the image is nowhere in the grab
  Append,        // grab rows from matchRow on replace image rows from keyRow on
};

struct StitchDecision {
  StitchOutcome outcome;
  int keyRow;    // y of the first match
  int matchRow;  // r of the first match
  int newScrollY;
};

// A hash of a row's sampled columns (every step-th below width): rows equal at those columns
// hash equal.
using RowHash = uint64_t (*)(const uint32_t* row, int width, int step);
uint64_t SampledColumnsHash(const uint32_t* row, int width, int step);

// image: the tall image (width W + 6); grab: the latest grab (width W + 6, height H + 6).
// scrollY: rows of the image in use; maxHeight: the image's row limit (4000); imageBytes: the
// image's read bound (its dibBytes). When the literal comparison runs long, the grab's rows are
// indexed by hash, so a key row finds its match without comparing it with every grab row; the
// result is always the literal search's.
// literalRows: row comparisons made literally before the index is built (-1: eight grabs' worth).
StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, RowHash hash = SampledColumnsHash,
                            int literalRows = -1);

// The same decision by comparing the key rows with the grab rows one by one: the reference.
StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes);

// The append: rows keyRow + 1 .. keyRow + H + 6 of the image turn black, then rows
// matchRow .. H - 4 of the grab (the black rows below the grab for matchRow < 3 included) are
// copied to the image from keyRow on, W columns wide.
void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow);

constexpr int kStitchBorder = 3;   // rows and columns round the grab that are never part of the image
constexpr int kMatchesNeeded = 3;  // matching key rows that confirm a place
constexpr int kKeyRowMove = 10;    // how far the key row moves up after each match
constexpr int kLiteralGrabs = 8;   // grabs' worth of literal row comparisons before the index

#endif
