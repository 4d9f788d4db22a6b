// Whether an append would change the tall image, and whether the rows it takes from the grab
// held still: a program that moves its content first and paints the uncovered rows a moment
// later must not have that half-painted state appended.
#ifndef TALLSNAP_CAPTURE_SETTLE_H
#define TALLSNAP_CAPTURE_SETTLE_H

#include <cstdint>
#include <vector>

#include "capture/stitch.h"

// After this many ticks in a row whose rows would not hold still (a blinking caret, an
// animation), the append is made anyway, as content that never settles must still be captured.
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

#endif
