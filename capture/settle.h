// Whether an append would change the tall image, and whether the rows it takes from the grab
// held still: a program that moves its content first and paints the uncovered rows a moment
// later must not have that half-painted state appended.
#ifndef TALLSNAP_CAPTURE_SETTLE_H
#define TALLSNAP_CAPTURE_SETTLE_H

#include <cstdint>
#include <vector>

#include "capture/stitch.h"

// After this many ticks in a row whose rows would not hold still, the append is made anyway, as
// content that never settles must still be captured.
constexpr int kUnsettledTicksAllowed = 3;

// True when appending d (an Append decision) to an image of scrollY rows changes its height or
// any of its rows.
bool AppendChangesImage(const PixelView& image, const PixelView& grab, int rangeWidth, int scrollY,
                        const StitchDecision& d);

// The grab rows an append of d takes into the image: matchRow .. H - 4.
struct GrabRows {
  int first;
  int count;
};
GrabRows AppendedRows(const StitchDecision& d, int rangeHeight);

// Keeps those rows of the grab (W columns each), to be compared with a later grab of them.
void SaveGrabRows(const PixelView& grab, int rangeWidth, GrabRows rows, std::vector<uint32_t>& saved);
bool GrabRowsEqual(const PixelView& grab, int rangeWidth, GrabRows rows, const std::vector<uint32_t>& saved);
void RestoreGrabRows(const PixelView& grab, int rangeWidth, GrabRows rows, const std::vector<uint32_t>& saved);

// Per row of `rows`, whether the grab shows it now as `saved` kept it, in columns firstColumn ..
// endColumn - 1: still[r] for grab row r (others are left alone).
void NoteRowsHeldStill(const PixelView& grab, GrabRows rows, const std::vector<uint32_t>& saved, int firstColumn,
                       int endColumn, std::vector<uint8_t>& still);

// What the rows an append takes did between the grab and their second look: nothing; changes
// that one region a third of the range tall and half of it wide holds (something animating by
// itself, any of whose frames will do); moved up, as a page that is still scrolling smoothly
// moves between two whole pictures of it (such a region apart); or else changed (rows half
// painted).
enum class Settle { Still, Animating, Moving, Changing };
// Only the content's columns firstColumn .. endColumn - 1 (those the decision was made in) are
// looked at: a scroll bar beside them changes as the page moves, which neither a region nor a
// move explains.
Settle JudgeSettle(const PixelView& grab, int rangeWidth, int rangeHeight, GrabRows rows,
                   const std::vector<uint32_t>& saved, int firstColumn, int endColumn);

// Whether the append is made now, counting the ticks in a row whose rows were changing. Changing
// rows wait for their paint, but only for kUnsettledTicksAllowed ticks in a row, and not once the
// append would grow the image by a third of the range: a longer wait could lose the overlap.
// Any other tick breaks the row (NoteTickWithoutSettle).
bool AppendNow(int& changingInARow, Settle settle, int growth, int rangeHeight);
inline void NoteTickWithoutSettle(int& changingInARow) { changingInARow = 0; }

#endif
