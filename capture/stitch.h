// The stitching decision and its pixel effect, over plain pixel views: where does the bottom
// of the tall image lie in the new grab, and what does the image become.
#ifndef TALLSNAP_CAPTURE_STITCH_H
#define TALLSNAP_CAPTURE_STITCH_H

#include <cstdint>
#include <unordered_map>
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

enum class StitchOutcome {
  Unchanged,     // the grab ends as the image does, row for row (from its last row, not a blank one, or from
                 // the last row an append copied): nothing new is visible
  LimitReached,  // the image is full: capturing stops
  NoMatch,       // no place of the image's end in the grab is confirmed by the rows around it
  Append,        // grab rows from matchRow on replace image rows from keyRow on
};

// The screen as the last look at it saw it (the grab of the last tick that found where the content
// lay): row g (0 = top) at rows[g], W columns. Null: the session's first screen, which the
// image's first rows are. What a grab still shows where this showed it, while the content moved
// under it, stands on the screen.
struct ScreenSeen {
  const uint32_t* const* rows = nullptr;
  // Columns from the left and the right edge where the image's last screen holds what stood over
  // the page (a sidebar stuck while the page moved under it), not the page: they vote for nothing.
  int stoodLeft = 0, stoodRight = 0;
  // Rows at the top where something stood across the screen at the moves seen so far (a bar the
  // page shows through, its words standing), within the top quarter: they vote for nothing either.
  int stoodTop = 0;
};

struct StitchDecision {
  StitchOutcome outcome;
  int keyRow;    // y of the image row the append starts at; Unchanged: the image's last row
  int matchRow;  // r of the grab row that replaces it; Unchanged: the grab row that shows it
  int newScrollY;
  // Unchanged: the grab rows up to matchRow that show the image's rows ending at its last in every
  // column, read so.
  int alikeRows = 0;
  // The content's columns it was decided in: all but a scroll bar at a side.
  int contentBegin = 0;
  int contentEnd = 0;
  // Grab rows 0 .. topBand - 1 show a band standing at the top, as the screen seen last did.
  int topBand = 0;
  // Grab rows 0 .. seenTop - 1 show in the content's columns what the screen seen last did.
  int seenTop = 0;
  // Grab rows from h - kStitchBorder - bottomBand on show a band standing at the bottom (a footer,
  // a status bar), as the image's end does: 0 when none was found.
  int bottomBand = 0;
  // The columns between bands standing at the sides, which the place was judged in without them
  // (0, 0: none were set aside).
  int betweenBegin = 0;
  int betweenEnd = 0;
  // An append's rows of the overlap above the join, grab rows max(0, matchRow - keyRow) ..
  // matchRow - 1, as the decision compared them pixel for pixel with the image rows they lie
  // over: per row, 1 where they differ in columns contentBegin .. contentEnd - 1. The stitching's
  // looks need not compare them again. Only when no bands at the sides were set aside: a place
  // judged without them was compared in fewer columns.
  std::vector<uint8_t> overlapUnlike{};
};

// Ticks in a row that see something new and find no place for it before the user is told that
// the capture does not follow: half a second, past a tick whose search ran out or a screen caught
// half painted.
constexpr int kNoPlaceTicksBeforeLost = 5;
// Counts those ticks; true while the capture follows the screen.
inline bool StillFollowing(int& noPlaceInARow, StitchOutcome outcome) {
  noPlaceInARow = outcome == StitchOutcome::NoMatch ? noPlaceInARow + 1 : 0;
  return noPlaceInARow < kNoPlaceTicksBeforeLost;
}

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
  // Per image row: its middle columns are all alike (non-zero), kWholeRowAlike when all its W
  // columns are: a blank row, which the looks ask about at every tick, as blank rows never settle.
  std::vector<uint8_t> uniform;
  // Per image row: a row above it or itself with the same pixels in all W columns, itself the
  // first such row known: rows of one class are the same. Uniform rows are left alone.
  std::vector<int32_t> sameAs;
  std::unordered_map<uint64_t, int32_t> firstOfHash;  // the first row of a class, by its hash
  int knownRows = 0;               // rows 0 .. knownRows - 1 have their hashes, uniformity and class
  int blackFrom = 0;               // rows blackFrom .. height - 1 are black in every column
  uint64_t hashMask = ~uint64_t{0};  // tests narrow it (before the reset) to force collisions
  uint32_t indexBuilds = 0;        // ticks that indexed the grab, for the benchmarks
  // The content's move at the last append decided (0 after a pause): between places the pixels
  // cannot tell apart, the one that goes on with it wins.
  int lastMove = 0;
  // The grab's rows by hash, built on the ticks whose literal comparisons ran out.
  std::vector<uint64_t> grabHash;  // of the columns compared
  std::vector<int32_t> grabNext;   // the next lower grab row of the same hash, or -1
  std::vector<int32_t> slots;      // open addressing: the highest grab row of a hash, or -1
  std::vector<uint8_t> grabLikeBelow;  // per grab row: the same pixels as the row below in all W columns
};

constexpr uint8_t kWholeRowAlike = 2;

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
// limit (4000); imageBytes: the image's read bound (its dibBytes).
//
// The decision: a key row of the image's end (not uniform, above any band standing at the
// bottom) proposes each place where the grab shows it; a place is judged on its whole overlap
// with the image, the append starting at its lowest agreeing row with ink. It qualifies when,
// past the rows of a band standing at the grab's top (up to half the range) that disagree, few
// rows disagree but for two blocks of at most a third of the range's rows (something moving by
// itself), with enough agreeing rows that have ink. Of the places a key row proposes, the one
// that disagrees least on the rows it shares with the place the motion expects wins; when that
// one qualifies only with blocks set aside, the places of a scroll back up past the key row,
// proposed by the grab's lowest rows with ink, compete with it. Key rows many grab rows show (an
// empty grid's) come after the others and propose the places nearest the one expected, and a
// tick judges places on a bounded number of rows. Rows are compared in the content's columns: a
// scroll bar at a side of the range, whose thumb moves by a share of the content's move, votes
// for nothing. What stands is what the grab shows where `seen` showed it: rows at the top, rows
// at the bottom (the image's end, which the screen seen last showed there), and, when nothing
// qualifies, columns at the sides (a sidebar, though it scrolled with the page before it stuck)
// are set aside; anything else that stands (a floating button, a card) is one of the blocks a
// place may set aside.
//
// The grab's rows are compared literally for a while, then indexed by hash, so that a key row
// finds its candidates and their overlaps are counted without comparing whole rows again; the
// place chosen is confirmed literally, and the result is always the literal search's.
// literalSamples: budget of literal comparisons before the index, in pixels compared plus
// kRowCompareCharge a row compared whole, kRowVisitCharge a row looked at (-1: about one
// comparison of the whole grab).
StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, StitchRows& rows, ScreenSeen seen = {},
                            int64_t literalSamples = -1);

// The same decision by comparing rows pixel for pixel: the reference. lastMove: the record's.
StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes, int lastMove = 0,
                                   ScreenSeen seen = {});

// The append: rows keyRow + 1 .. keyRow + H + 6 of the image turn black, then rows
// matchRow .. H - 4 of the grab (the black rows below the grab for matchRow < 3 included) are
// copied to the image from keyRow on, W columns wide. Rows the record knows to be black are
// not filled again, and the record learns the new image rows.
void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow, StitchRows& rows);

// Rows at the new end of the image that the append leaves black: a grab row past matchRow
// + H - 6 is never copied, so a join in the grab's top rows (matchRow < kStitchBorder) ends
// the image in black that no screen showed.
int FillRowsAtEnd(const PixelView& grab, int rangeHeight, int matchRow);

// The same pixels, filling every row: the reference.
void ApplyStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                        int matchRow);

constexpr int kStitchBorder = 3;  // rows and columns round the grab that are never part of the image
// A place is judged on at least this many rows (and a key row's place is the image's end: the
// content may move by at most H - 26 rows between two ticks).
constexpr int kSmallestOverlap = 23;
// Rows outside a moving region may disagree up to an eighth of those judged: a blinking caret,
// a progress bar; unrelated text, whose blank rows agree, stays far above.
constexpr int kDisagreeShare = 8;
// Something that changes by itself (an animation, a video, a clock) may take up to a third of
// the range's rows; a band standing at its top up to half of them.
constexpr int kMovingRegionShare = 3;
constexpr int kTopBandShare = 2;
// Rows with ink in their middle that agree: a place needs this many, and at least half as many
// as its rows that disagree.
constexpr int kLeastEvidence = 3;
// Bands standing at the sides are looked for a sixteenth of the width at a time, up to a quarter
// of it on either side.
constexpr int kStitchTiles = 16;
constexpr int kSideBandTiles = kStitchTiles / 4;
constexpr int kSideBandStride = 4;
// A key row shown by more grab rows than this (an empty grid's, a pattern's) proposes the places
// of this many, those nearest the place the motion expects: the pixels cannot tell the others
// from them. A grab row shown by more image rows proposes no scroll back.
constexpr int kMostAlikeRows = 48;
// A tick judges places on at most this many ranges' worth of rows; once they are spent it finds
// nothing, and the next tick looks again.
constexpr int kPlaceRowsPerTick = 96;
constexpr int kRowCompareCharge = 8;  // what reaching a row costs, in pixels compared
// What looking at two pixels of a row costs, in pixels compared: reaching two lines of memory
// that nothing else of the row shares.
constexpr int kRowVisitCharge = 32;

#endif
