#include "capture/stitch.h"

#include <algorithm>

#include "capture/stitch_index.h"
#include "capture/stitch_literal.h"
#include "capture/stitch_stands.h"
#include "capture/stitch_walk.h"

namespace stitching {

namespace {

void AppendAt(const Place& p, int h, Span vote, StitchDecision& d) {
  d.outcome = StitchOutcome::Append;
  d.keyRow = p.join + p.offset;
  d.matchRow = p.join;
  d.newScrollY = p.offset + h - kStitchBorder;
  if (!(vote == Span{d.contentBegin, d.contentEnd})) {
    d.betweenBegin = vote.begin;
    d.betweenEnd = vote.end;
    return;
  }
  // The place's rows were told pixel for pixel: a place that won on hashes was compared again
  // and found the same before it was chosen.
  d.overlapUnlike.assign(static_cast<size_t>(std::max(0, p.join - p.lo)), 0);
  for (const int g : p.unlike)
    if (g < p.join) d.overlapUnlike[static_cast<size_t>(g - p.lo)] = 1;
}

Verdict SearchLiteral(const Frame& f, int band) {
  Scratch s;
  return Search(f, band, [](const Frame& frame) { return LiteralRows{frame}; }, s);
}

// The steps before the search, then search(frame, band) over this tick's frame.
template <class Searcher>
StitchDecision Decide(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int maxHeight,
                      int32_t imageBytes, int lastMove, ScreenSeen seen, Searcher search) {
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int band = 0;
  const Span content = ContentColumns(image, grab, w, h, scrollY);
  d.contentBegin = content.begin;
  d.contentEnd = content.end;
  const EndsAlike ends = EndsAlikeOf(image, grab, w, h, scrollY, imageBytes);
  // A pause shows the image's end as it was, whatever stands at the top: that is not asked then.
  const int topBand = NothingNew(ends, h, scrollY, 0)
                           ? 0
                           : std::max(TopBandOf(image, seen, grab, h, scrollY, content, &d.seenTop), seen.stoodTop);
  d.topBand = topBand;
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, ends, topBand, d, band)) return d;
  d.bottomBand = band;
  const Verdict v = search(FrameFor(image, grab, seen, w, h, scrollY, topBand, content, lastMove), band);
  if (v.found == Found::Place) AppendAt(v.place, h, v.vote, d);
  return d;
}

}  // namespace

}  // namespace stitching

void ResetStitchRows(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int writtenRows,
                     uint64_t seed) {
  rows.seed = seed;
  stitching::Describe(rows, image, rangeWidth, rangeHeight, writtenRows);
  stitching::LearnRows(rows, image, writtenRows);
}

StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, StitchRows& rows, ScreenSeen seen,
                            int64_t literalSamples) {
  using namespace stitching;
  const StitchDecision d = Decide(image, grab, rangeWidth, rangeHeight, scrollY, maxHeight, imageBytes, rows.lastMove, seen,
                                  [&](const Frame& f, int band) {
                                    Adopt(rows, image, f.w, f.h);
                                    LearnRows(rows, image, f.scrollY);
                                    const Verdict v = SearchIndexed(f, band, rows, literalSamples);
                                    // Hashes that cannot be trusted leave the tick to the literal search.
                                    return v.found == Found::Unsure ? SearchLiteral(f, band) : v;
                                  });
  // A pause ends the scroll; a tick that finds nothing leaves it as it was.
  if (d.outcome == StitchOutcome::Append) rows.lastMove = d.keyRow - d.matchRow - LastOffsetOf(scrollY, rangeHeight);
  if (d.outcome == StitchOutcome::Unchanged) rows.lastMove = 0;
  return d;
}

StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes, int lastMove, ScreenSeen seen) {
  return stitching::Decide(image, grab, rangeWidth, rangeHeight, scrollY, maxHeight, imageBytes, lastMove, seen,
                           stitching::SearchLiteral);
}
