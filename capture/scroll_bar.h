// A scroll bar beside the content stands over nothing of the page: no grab ever uncovers what
// lies under it, so the tall image shows it as one bar of its own height, not the pieces each
// grab brought (an arrow at every append's end, the thumb wherever it was).
#ifndef TALLSNAP_CAPTURE_SCROLL_BAR_H
#define TALLSNAP_CAPTURE_SCROLL_BAR_H

#include <cstdint>

#include "capture/stitch.h"

// Per column begin .. end - 1, what one move of the content by `moved` rows tells of it, from
// the edges between two rows of the screen (now: this grab's h rows, before: the last look's):
// an edge the last look showed at the same place of the screen stood (an arrow, a bar's end); one
// it showed where the content came from passed with the page (a table's border, a line of text).
void NoteSideEdges(const uint32_t* const* now, const uint32_t* const* before, int h, int moved, int begin, int end,
                   int32_t* stood, int32_t* passed);

// Of the columns begin .. end - 1 at the range's left edge (or, `right`, at its right edge), those
// from the edge inward up to the first the page passed through, with the counts NoteSideEdges
// kept: a bar when something stood in them. Empty (begin == end) when not.
void BarColumns(const int32_t* stood, const int32_t* passed, int begin, int end, bool right, int& barBegin,
                int& barEnd);

// Columns begin .. end - 1 of image rows 0 .. rows - 1 show the bar as `screen` shows it: h rows,
// the last screen, laid at image row `offset`. Its top part (the up arrow) shows at the image's
// top, its track down to where the last screen shows the thumb, and from there the last screen's
// rows (the thumb and the down arrow). The track is what more than half the screen's rows show,
// the even and the odd ones each (a dithered track alternates): a bar without one (a page barely
// taller than the screen, its thumb as tall as the track) is left as the grabs brought it.
void ShowScrollBarOnce(const PixelView& image, const uint32_t* const* screen, int h, int begin, int end, int offset,
                       int rows);

#endif
