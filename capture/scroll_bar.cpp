#include "capture/scroll_bar.h"

#include <algorithm>
#include <cstring>

#include "capture/stitch_rows.h"

using stitching::RowsEqual;
using stitching::Span;

namespace {

// A column where the page passed more often than once for this many edges that stood is the
// page's: a thumb's end may meet an arrow's edge where the content came from, by chance.
constexpr int kStoodPerPassed = 16;

// Of the screen's rows with parity p, the one more than half of them show, or -1.
int MostShown(const uint32_t* const* screen, int h, Span bar, int p) {
  int candidate = -1, lead = 0;
  for (int r = p; r < h; r += 2) {
    if (lead == 0) candidate = r;
    lead += candidate == r || RowsEqual(screen[r], screen[candidate], bar) ? 1 : -1;
  }
  if (candidate < 0) return -1;
  int shown = 0, of = 0;
  for (int r = p; r < h; r += 2, ++of) shown += RowsEqual(screen[r], screen[candidate], bar) ? 1 : 0;
  return 2 * shown > of ? candidate : -1;
}

}  // namespace

void NoteSideEdges(const uint32_t* const* now, const uint32_t* const* before, int h, int moved, int begin, int end,
                   int32_t* stood, int32_t* passed) {
  if (moved == 0) return;
  for (int r = std::max(1, 1 - moved); r < h && r + moved < h; ++r) {
    const uint32_t *here = now[r], *above = now[r - 1], *was = before[r], *wasAbove = before[r - 1];
    // Most rows of a bar repeat the one above: its track.
    if (RowsEqual(here, above, Span{begin, end})) continue;
    const uint32_t *came = before[r + moved], *cameAbove = before[r + moved - 1];
    for (int x = begin; x < end; ++x) {
      if (here[x] == above[x]) continue;
      const bool stayed = here[x] == was[x] && above[x] == wasAbove[x];
      const bool followed = here[x] == came[x] && above[x] == cameAbove[x];
      if (stayed != followed) ++(stayed ? stood : passed)[x];
    }
  }
}

void BarColumns(const int32_t* stood, const int32_t* passed, int begin, int end, bool right, int& barBegin,
                int& barEnd) {
  const auto page = [&](int x) { return passed[x] > 0 && passed[x] * kStoodPerPassed > stood[x]; };
  int64_t anyStood = 0;
  barBegin = right ? end : begin;
  barEnd = barBegin;
  if (right)
    for (; barBegin > begin && !page(barBegin - 1); --barBegin) anyStood += stood[barBegin - 1];
  else
    for (; barEnd < end && !page(barEnd); ++barEnd) anyStood += stood[barEnd];
  if (anyStood == 0) barBegin = barEnd;
}

void ShowScrollBarOnce(const PixelView& image, const uint32_t* const* screen, int h, int begin, int end, int offset,
                       int rows) {
  const Span bar{begin, end};
  if (end <= begin || h < 2) return;
  const int track[2] = {MostShown(screen, h, bar, 0), MostShown(screen, h, bar, 1)};
  if (track[0] < 0 || track[1] < 0) return;
  const auto isTrack = [&](int r) { return RowsEqual(screen[r], screen[track[r & 1]], bar); };
  // The up arrow: the first run of rows unlike the track, when it begins within a bar's width of
  // the top (an arrow button is about as tall as the bar is wide).
  int top = 0;
  while (top < h && top < end - begin && isTrack(top)) ++top;
  int upEnd = 0;
  if (top < end - begin) {
    upEnd = top;
    while (upEnd < h && !isTrack(upEnd)) ++upEnd;
  }
  // The last screen shows itself from the first row past the arrow that is not the track.
  int shown = upEnd;
  while (shown < h && isTrack(shown)) ++shown;
  const size_t bytes = sizeof(uint32_t) * static_cast<size_t>(end - begin);
  for (int y = 0; y < rows && y < image.height; ++y) {
    const int r = y - offset;
    const uint32_t* from = r >= shown && r < h ? screen[r] : y < upEnd ? screen[y] : screen[track[r & 1]];
    std::memcpy(ViewRow(image, y) + begin, from + begin, bytes);
  }
}
