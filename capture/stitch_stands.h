// What stands on the screen while the content under it scrolls: a band at the top, one at the
// bottom, bands at the sides, or the whole grab when nothing new is visible.
#ifndef TALLSNAP_CAPTURE_STITCH_STANDS_H
#define TALLSNAP_CAPTURE_STITCH_STANDS_H

#include <cstdint>

#include "capture/stitch.h"
#include "capture/stitch_rows.h"

namespace stitching {

struct Frame;

// Where the image's last row lies in a grab of the same screen: the first grab's last row,
// or, after an append, the last row copied.
inline int EndRowOf(int scrollY, int h) { return scrollY == h ? h - 1 : h - 1 - kStitchBorder; }
// Image row less grab row where the image's last row lies in such a grab: where a place of no
// move lies.
inline int LastOffsetOf(int scrollY, int h) { return scrollY - 1 - EndRowOf(scrollY, h); }

// The columns of the content: all of them but a scroll bar at either side of the range, the
// columns from an edge, up to a sixteenth of the width and 48 columns, that change from row to row in few rows
// (a track and a thumb of one colour each, arrows) when some of them no longer show what the
// first grab showed there (the thumb moved). The thumb moves by a share of the content's move:
// the rows it crossed would refuse the true place, and a key row it crossed would find itself
// nowhere. Still columns beside it (a margin, a border) go with it: they tell little of where the
// content lies.
Span ContentColumns(const PixelView& image, const PixelView& grab, int w, int h, int scrollY);

// Row g of the screen seen last: `seen`'s, or the first grab's, which the image's first rows are.
inline const uint32_t* SeenRow(const PixelView& image, ScreenSeen seen, int g) {
  return seen.rows != nullptr ? seen.rows[g] : ViewRow(image, g);
}

// A band standing at the top (a sticky header, a toolbar, a table's frozen head, a bar that
// sticks only once the page scrolled): the grab's first rows, up to half the range, as the
// screen seen last showed them in the content's columns. The image shows it once, at its top;
// the content under it was gathered below it. seenRows, when given, becomes how many of the
// grab's first rows show in the content's columns what the screen seen last did (counted up to
// the band's limit), whichever screen told the band.
int TopBandOf(const PixelView& image, ScreenSeen seen, const PixelView& grab, int h, int scrollY, Span content,
              int* seenRows = nullptr);

// How many rows, up from the image's last row, the grab shows as the image ends, counted as if
// nothing stood at the top: from the grab's own last row (-1 when that row's middle is alike,
// which tells nothing), and from where the last append left the image's end (-1: not counted).
// A band of t rows at the top only cuts each count short at the rows below it. Nothing is
// counted at the first tick, which has nothing to be unchanged from; the second count not when
// the first finds nothing new whatever stands.
struct EndsAlike {
  int fromLast = -1, fromEnd = -1;
};
EndsAlike EndsAlikeOf(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int32_t imageBytes);

// Nothing new is visible when the grab ends as the image does, row for row, but for a band of
// topBand rows at the top: from its last row, or from where the last append left the image's
// end. The last rows alone do not tell when a band at the bottom of the range stands still while
// the rows above it move; the second is the usual tick of a pause.
bool NothingNew(const EndsAlike& ends, int h, int scrollY, int topBand);

// Steps before the search: nothing new visible, or the image full. True when the search runs;
// standing then holds the rows at the image's end that stand where the grab shows them still
// while a row above them does not: a band that does not scroll, such as a footer or a status
// bar (0 when there is none). Its rows would match themselves there and hold the image where it
// ends, and rows alike inside it could even match at the content's move: the key rows are
// looked for above it first. Rows of a band standing at the top are not compared.
bool NeedsSearch(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int maxHeight,
                 int32_t imageBytes, const EndsAlike& ends, int topBand, StitchDecision& d, int& standing);

// Side bands that stand still: columns from either edge, up to about a quarter of the width,
// that show what the screen seen last showed in the same place in all but an eighth of the rows,
// beside columns that do not. The content's columns between the bands vote.
Span StandingSides(const Frame& f);

}  // namespace stitching

#endif
