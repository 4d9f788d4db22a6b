// Each row of the tall image ends up as the newest look at it that shows the page itself: what
// stood over the content when a row was first taken (a floating button, a sidebar stuck to the
// window, a bar) is replaced once a grab shows the row elsewhere on the screen, uncovered, and
// content that changed after it came into view (a block fading or sliding into place, a picture
// decoding late) is taken again once two grabs at different scroll positions agree on it.
#ifndef TALLSNAP_CAPTURE_LAST_LOOK_H
#define TALLSNAP_CAPTURE_LAST_LOOK_H

#include <cstdint>
#include <vector>

#include "capture/stitch.h"

struct LastLook {
  int w = 0, h = 0;
  int offset = 0;                // image row less grab row at the last append
  int end = 0;                   // the image's rows in use after it
  // That grab's rows 0 .. H - 1, W columns each, top down: those the image keeps as the grab
  // showed them (inImage) are read there, row r + offset, the others are kept here.
  std::vector<uint32_t> pixels;
  std::vector<uint8_t> inImage;
  // Per row of the screen, the columns where something stood while the content moved under it
  // (begin == end: none), learnt over the session and kept: such things come back.
  std::vector<int32_t> standBegin, standEnd;
  int top = 0;  // rows of a band standing across the top at the last append
  int contentBegin = 0, contentEnd = 0;  // the columns it was decided in
  // Per image row, the screen row it was taken from or last rewritten from.
  std::vector<int32_t> from;
  // Per image row: two looks at it agreed (from different places of the screen, or over a pause),
  // so it is the page: what holds still over it later is not taken, only two newer looks that
  // agree below the range's top quarter. What passes under a see-through bar later is not the page.
  std::vector<uint8_t> settled;
  // The first screen's rows that newer looks rewrote (empty: none), laid into the image at the
  // finish: until then the image's first screen stays the stitching's picture of what stood where.
  std::vector<std::vector<uint32_t>> firstScreen;
  // Per screen row: whether it showed rows unlike the image at each of the last four moves, the
  // newest in bit 0; and the moves noted, up to four.
  std::vector<uint8_t> differed;
  int moves = 0;
  // Per column, edges of the screen's rows that stood at the content's moves, and those that
  // passed with it: where no page passes, beside the content, a scroll bar stands.
  std::vector<int32_t> sideStood, sidePassed;
  // Per grab row, filled by the caller for the tick (all 0 when it took no second look): the row
  // held still over a second look moments later.
  std::vector<uint8_t> still;
  // The grab of the last tick that renewed nothing (no place found, rows waiting to hold still),
  // when it is newer than the look: the screen the next decision tells what stands by.
  PixelView seen{};
  bool seenNewer = false;
  std::vector<const uint32_t*> seenRows;  // where SeenBy found each row of the screen seen last
};

// The screen the last tick saw, for the decision: what a grab still shows there stands. With it,
// the sides where something stood in at least half the screen's rows, within a quarter of the
// width from an edge or reaching the edge from within half of it, and the rows at the top down
// to the lowest of the top quarter where something stood across half the width: the image holds
// that there, not the page.
// Valid until the image or the look changes.
ScreenSeen SeenBy(LastLook& look, const PixelView& image);
// A tick that neither appended nor looked again keeps its grab for that, where it lies: the caller
// leaves those pixels as they are until the next decision, and grabs the next screen elsewhere.
void KeepSeen(LastLook& look, const PixelView& grab);

// The first grab of a session, laid at image row 0. The calls that follow are given the same
// image: the last look reads there the rows the image keeps as the grab showed them.
void StartLastLook(LastLook& look, const PixelView& grab, int rangeWidth, int rangeHeight, int imageRows);

// The append of d, and before it the rows of the overlap (above d.keyRow) looked at again:
// - the grab's move since the last append teaches what stood on the screen: runs of pixels
//   unchanged where they were, unlike the content that moved there;
// - an image pixel taken where something stood is taken again from this grab where it shows
//   that column of the row at a place where nothing stands;
// - a row whose rows around it agree with the last look of them at another place of the screen
//   takes what the grab shows outside what stands, a settled one where the image shows it
//   otherwise; one not settled yet also where they held still over the caller's second look
//   (`still`).
// Sides the decision found standing (outside d.betweenBegin .. d.betweenEnd - 1) stand in every
// row from then on.
// A band standing across the top (rows of wide standing columns in the range's upper half, or
// the decision's topBand) counts as standing in all its columns, and screen rows that keep
// showing rows unlike the image (a see-through bar) take nothing. The grab becomes the last look.
// The rows of the overlap are those the decision compared already (d.overlapUnlike).
void ApplyStitchLooking(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                        const StitchDecision& d, StitchRows& rows, LastLook& look);

// Whether a tick that appends nothing shows the content where the last append left it: nothing
// new at the end there, or an append at the same place that waits for its rows to hold still. A
// move up by the rows under the image's end shows nothing new either, but elsewhere.
inline bool ShowsTheLastLooksPlace(const LastLook& look, const StitchDecision& d) {
  return (d.outcome == StitchOutcome::Unchanged || d.outcome == StitchOutcome::Append) &&
         d.keyRow - d.matchRow == look.offset;
}

// A tick that found the screen where the last append left it (d): rows not settled take what it
// shows where the look before agrees, as above (a block that finished fading while the page
// stood). The grab becomes the last look. Rows the decision read alike are not read again.
void LookStill(LastLook& look, const PixelView& image, const PixelView& grab, StitchRows& rows, const StitchDecision& d,
               int scrollY);

// The look's part of a tick, once the caller knows whether the decision's append is made now: the
// append with its looks, or a look at the screen where the last append left it, or else the grab
// kept as the screen seen. True in that last case: the caller leaves the grab's pixels as they are
// until the next decision, and grabs the next screen elsewhere.
bool LookAtTick(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                const StitchDecision& d, bool append, int scrollY, StitchRows& rows, LastLook& look);

// The finish: the first screen's rows take their newest looks, kept aside while the capture
// ran; then, from a grab of the screen as it stands, the rows of the image's last screen not
// settled yet take what it shows where it agrees with the last append's look (held still since),
// but for screen rows that show rows unlike the image (a see-through bar). What stands there
// shows once, as that grab shows it where it held still, settled rows too: the image may hold
// there what stood over a row when it was taken. Not a band across the top, which the first
// screen shows. Nothing of the grab is written when the screen moved since (most rows disagree).
// Last, columns at a side where something stood and the page never passed (a scroll bar) show
// the bar once, as that grab, or else the last look, shows it.
void FinishLastLook(LastLook& look, const PixelView& image, const PixelView& grab, int scrollY);

#endif
