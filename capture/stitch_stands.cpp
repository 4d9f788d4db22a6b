#include "capture/stitch_stands.h"

#include <algorithm>

#include "capture/stitch_walk.h"

namespace stitching {

namespace {

// The most rows a band standing at the top or the bottom of the range may take: half of them.
// Rows alike past that tell of nothing that moved under them at the top, and rather of content
// that repeats and moved by its period at the bottom.
int MostStandingRows(int h) { return h / kTopBandShare; }

// A scroll bar's column changes from row to row at its arrows and its thumb's ends only, and
// shows otherwise than the first grab where the thumb was and where it is: two runs of rows,
// or a few more where its rounded ends are drawn otherwise. The widest, at twice the usual
// scale, with a margin, is looked for.
constexpr int kThumbRuns = 4;
constexpr int kWidestScrollBar = 48;
constexpr int kBarStride = 2 * kSideBandStride;
constexpr int kPrefetchRows = 4, kCacheLinePixels = 16;

}  // namespace

Span ContentColumns(const PixelView& image, const PixelView& grab, int w, int h, int scrollY) {
  const int rows = std::min({scrollY, h - kStitchBorder, image.height});
  const int sampled = (rows + kBarStride - 1) / kBarStride, few = sampled / kDisagreeShare;
  const int most = std::min(w / kStitchTiles, kWidestScrollBar);
  // The columns of either edge (x from `from` on), every kBarStride-th row telling: rows that
  // change from the one above, rows unlike the first grab's, and the runs those make.
  struct Tally {
    int changes[kWidestScrollBar] = {}, unlike[kWidestScrollBar] = {}, runs[kWidestScrollBar] = {};
    uint8_t was[kWidestScrollBar] = {};
  } edges[2];
  const int from[2] = {0, w - most};
  for (int g = 0; g < rows; g += kBarStride)
    for (int e = 0; e < 2; ++e) {
      // Rows this far apart are not fetched ahead by the processor, and each waits for memory.
      const int ahead = std::min(g + kPrefetchRows * kBarStride, rows - 1);
      for (int c = 0; c < most; c += kCacheLinePixels) {
        __builtin_prefetch(ViewRow(grab, ahead) + from[e] + c);
        __builtin_prefetch(ViewRow(grab, std::max(ahead - 1, 0)) + from[e] + c);
        __builtin_prefetch(ViewRow(image, ahead) + from[e] + c);
      }
      const uint32_t* now = ViewRow(grab, g) + from[e];
      const uint32_t* above = ViewRow(grab, std::max(g - 1, 0)) + from[e];
      const uint32_t* first = ViewRow(image, g) + from[e];
      Tally& t = edges[e];
      for (int k = 0; k < most; ++k) {
        const uint8_t differs = now[k] != first[k];
        t.changes[k] += now[k] != above[k];
        t.unlike[k] += differs;
        t.runs[k] += differs & (t.was[k] ^ 1);
        t.was[k] = differs;
      }
    }
  // Column k of a bar: few changes, and unlike the first grab only where the thumb was and is,
  // its arrows and the rest of its track standing. From an edge inwards, the bar's width once its
  // thumb moved.
  const auto bar = [&](const Tally& t, int k0, int step) {
    int width = 0;
    bool moved = false;
    for (int k = k0; width < most; k += step, ++width) {
      if (t.changes[k] > few || t.runs[k] > kThumbRuns || t.unlike[k] > sampled - few) break;
      moved = moved || t.unlike[k] > 0;
    }
    return moved ? width : 0;
  };
  return Span{bar(edges[0], 0, 1), w - bar(edges[1], most - 1, -1)};
}

int TopBandOf(const PixelView& image, ScreenSeen seen, const PixelView& grab, int h, int scrollY, Span content,
              int* seenRows) {
  const int most = std::min({MostStandingRows(h) + 1, scrollY, image.height});
  const auto standing = [&](ScreenSeen look) {
    int band = 0;
    while (band < most && RowsEqual(SeenRow(image, look, band), ViewRow(grab, band), content)) ++band;
    return band;
  };
  const int band = standing(seen);
  if (seenRows != nullptr) *seenRows = band;
  if (seen.rows == nullptr) return band > MostStandingRows(h) ? 0 : band;
  // No band against either screen is the usual tick's answer, found without reading further.
  const int first = band == 0 ? standing(ScreenSeen{}) : -1;
  if (first == 0) return 0;
  // A band stands only where the content moved under it: most rows below it (every
  // kSideBandStride-th telling) show otherwise than the screen seen last did, not a block
  // fading in on a page that stands still. Otherwise the first look, at a screen the content has
  // surely left since, tells.
  if (band <= MostStandingRows(h)) {
    // Read only until the count is decided: a page that stands still shows alike rows
    // throughout, and the half of them that decides is enough.
    const int below = (std::max(0, h - kStitchBorder - band) + kSideBandStride - 1) / kSideBandStride;
    int alike = 0, unlike = 0;
    for (int g = band; 2 * alike < below && 2 * unlike <= below; g += kSideBandStride)
      (RowsEqual(SeenRow(image, seen, g), ViewRow(grab, g), content) ? alike : unlike) += 1;
    if (2 * alike < below) return band;
  }
  const int told = first >= 0 ? first : standing(ScreenSeen{});
  return told > MostStandingRows(h) ? 0 : told;
}

EndsAlike EndsAlikeOf(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int32_t imageBytes) {
  EndsAlike e;
  if (scrollY == h) return e;
  // The last row's uniformity is read in full whatever the bound.
  if (!IsUniform(ViewRow(grab, h - 1), MiddleOf(w))) e.fromLast = RowsEndingAlike(image, grab, w, scrollY, imageBytes, h - 1, 0);
  if (!NothingNew(e, h, scrollY, 0)) e.fromEnd = RowsEndingAlike(image, grab, w, scrollY, imageBytes, EndRowOf(scrollY, h), 0);
  return e;
}

bool NothingNew(const EndsAlike& ends, int h, int scrollY, int topBand) {
  return (ends.fromLast >= 0 && ends.fromLast >= std::min(scrollY, h - topBand)) ||
         (ends.fromEnd >= 0 && ends.fromEnd >= std::min(scrollY, EndRowOf(scrollY, h) + 1 - topBand));
}

bool NeedsSearch(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int maxHeight,
                 int32_t imageBytes, const EndsAlike& ends, int topBand, StitchDecision& d, int& standing) {
  if (NothingNew(ends, h, scrollY, topBand)) {
    // Where the grab shows the image's last row: where the last append left it, unless only the
    // grab's last rows end as the image does.
    d.outcome = StitchOutcome::Unchanged;
    d.keyRow = scrollY - 1;
    const bool atEnd = NothingNew(EndsAlike{-1, ends.fromEnd}, h, scrollY, topBand);
    d.matchRow = atEnd ? EndRowOf(scrollY, h) : h - 1;
    // The image's last row lies nearest the start of its bytes: when it was read whole, all were.
    d.alikeRows = ColumnsInBound(image, scrollY - 1, w, imageBytes) < w ? 0 : atEnd ? ends.fromEnd : ends.fromLast;
    return false;
  }
  // Before the image's end is read at the first tick: a range taller than the image can take
  // ends there.
  if (scrollY > maxHeight - h) {
    d.outcome = StitchOutcome::LimitReached;
    return false;
  }
  const int endRow = EndRowOf(scrollY, h), allRows = std::min(scrollY, endRow + 1 - topBand);
  const int alike = ends.fromEnd >= 0 ? std::min(ends.fromEnd, allRows)
                                      : RowsEndingAlike(image, grab, w, scrollY, imageBytes, endRow, topBand);
  standing = alike == allRows || alike > MostStandingRows(h) ? 0 : alike;
  return true;
}

// They are looked for tile by tile, a tile counting only when it changes from row to row in an
// eighth of the rows at least (tiles nearly alike in every row agree at any place, whether they
// stand or move), then column by column into the tile where the band ends.
Span StandingSides(const Frame& f) {
  // Every kSideBandStride-th row tells: a band stands in all of them.
  const int rows = std::min(f.scrollY, f.h - kStitchBorder), few = rows / kSideBandStride / kDisagreeShare;
  const auto stands = [&](Span columns, bool& drawn) {
    int differ = 0, changes = 0;
    for (int g = 0; g < rows; g += kSideBandStride) {
      const uint32_t* now = ViewRow(f.grab, g);
      if (!RowsEqual(SeenRow(f.image, f.seen, g), now, columns) && ++differ > few) return false;
      if (changes <= few && g > 0 && !RowsEqual(ViewRow(f.grab, g - 1), now, columns)) ++changes;
    }
    drawn = changes > few;
    return true;
  };
  const auto start = [&](int t) { return t * f.w / kStitchTiles; };
  const auto tile = [&](int t) { return Span{start(t), start(t + 1)}; };
  // From an edge inwards (step 1 or -1): the tile count of the band, and the first tile that moves.
  const auto band = [&](int from, int step, int& moving) {
    int tiles = 0;
    for (int k = 0; k <= kSideBandTiles; ++k) {
      bool drawn = false;
      moving = from + step * k;
      if (!stands(tile(moving), drawn)) return tiles;
      if (drawn) tiles = k + 1;
    }
    return 0;  // nothing moves near this edge
  };
  int movingLeft = 0, movingRight = 0;
  const int left = band(0, 1, movingLeft), right = band(kStitchTiles - 1, -1, movingRight);
  // Sides the image holds what stood over the page in are set aside whether or not they stand now:
  // a sidebar that comes loose again moves with the page, but the image has no page there to agree.
  Span vote{std::max({start(left), f.vote.begin, f.seen.stoodLeft}),
            std::min({start(kStitchTiles - right), f.vote.end, f.w - f.seen.stoodRight})};
  if (left == 0 && right == 0) return vote.end > vote.begin ? vote : f.vote;
  bool drawn = false;
  if (left > 0 && movingLeft == left)
    while (vote.begin < tile(movingLeft).end && stands(Span{vote.begin, vote.begin + 1}, drawn)) ++vote.begin;
  if (right > 0 && movingRight == kStitchTiles - 1 - right)
    while (vote.end > tile(movingRight).begin && vote.end > vote.begin + 1 && stands(Span{vote.end - 1, vote.end}, drawn))
      --vote.end;
  return vote;
}

}  // namespace stitching
