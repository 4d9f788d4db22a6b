#include "capture/last_look.h"

#include <algorithm>
#include <cstring>

#include "capture/scroll_bar.h"
#include "capture/stitch_rows.h"
#include "capture/stitch_rows_wide.h"

using stitching::RowsEqual;
using stitching::UnlikeWithin;
using stitching::Span;

namespace {

// Rows and columns round the pixels seen standing that stand too: the soft edge of a button,
// its shadow, a row of it that happens to match the content under it.
constexpr int kStandMargin = 3;
// A move that leaves more than half the screen's pixels where they were, unlike the content
// that came there, did not move what is shown (a page replaced, a wrong place): it teaches
// nothing of what stands.
constexpr int kMostStandingShare = 2;
// Rows of the upper half standing in at least half the width make a band across the top: every
// row above the lowest of them stands in all its columns, a see-through bar's tinted rows too.
constexpr int kTopBandWidthShare = 2;

// The image's row y as the looks keep it. The first screen's rows are the stitching's picture of
// what stood where when the capture began, so their newer looks wait beside them until the finish.
uint32_t* KeptRow(LastLook& look, const PixelView& image, int y) {
  if (y >= look.h) return ViewRow(image, y);
  std::vector<uint32_t>& row = look.firstScreen[static_cast<size_t>(y)];
  if (row.empty()) row.assign(ViewRow(image, y), ViewRow(image, y) + look.w);
  return row.data();
}
const uint32_t* KeptRowNow(const LastLook& look, const PixelView& image, int y) {
  return y < look.h && !look.firstScreen[static_cast<size_t>(y)].empty() ? look.firstScreen[static_cast<size_t>(y)].data()
                                                                          : ViewRow(image, y);
}

// Row r of a screen kept apart, w pixels a row.
uint32_t* ScreenRow(std::vector<uint32_t>& screen, int w, int r) { return screen.data() + static_cast<size_t>(w) * r; }
const uint32_t* ScreenRow(const std::vector<uint32_t>& screen, int w, int r) {
  return screen.data() + static_cast<size_t>(w) * r;
}

// Row r of the last look: where the image keeps that row as the grab showed it, the image's.
const uint32_t* LookRow(const LastLook& look, const PixelView& image, int r) {
  if (look.inImage[static_cast<size_t>(r)] != 0) return KeptRowNow(look, image, r + look.offset);
  return ScreenRow(look.pixels, look.w, r);
}

// The columns of screen row r where something stands: all of them in a band across the top.
Span StandsAt(const LastLook& look, int r, int top) {
  if (r < top) return Span{0, look.w};
  return Span{look.standBegin[static_cast<size_t>(r)], look.standEnd[static_cast<size_t>(r)]};
}

// The decision passes over such rows only in the range's top quarter: a bar sticking there is
// shorter, and wide standing columns found lower (a sidebar half the width, a chance find) would
// keep it from following larger moves for the rest of the session.
constexpr int kStoodTopShare = 4;

int TopBandRows(const LastLook& look, int topBand, int share = 2) {
  int top = topBand;
  for (int r = top; r < look.h / share; ++r)
    if ((look.standEnd[static_cast<size_t>(r)] - look.standBegin[static_cast<size_t>(r)]) * kTopBandWidthShare >= look.w)
      top = r + 1;
  return top;
}

// Runs of at least this many columns where a place of the screen showed the same at two times
// make evidence that something stands there, when three quarters of their pixels are unlike the
// content the other look shows of the same row: a button's face is unlike all of it, while
// letters that two lines of text share by chance are unlike a line's ink only here and there.
constexpr int kStandRun = 8;
constexpr int kStandUnlike = 3, kStandUnlikeOf = 4;
// Columns alike in both that may lie between two such pixels of one run: a button's white icon.
constexpr int kStandGap = 6;
// And rows in a row with such runs that overlap: a line of text slid by two rows matches itself
// in its blank rows, but not for long.
constexpr int kStandRows = 3;
// StoodWithin passes over blocks of 16 columns where nothing stood: a gap that long ends a run anyway.
static_assert(kStandGap < 16, "a block of 16 columns with nothing standing must end a run");

Span Hull(Span a, Span b) {
  if (a.begin >= a.end) return b;
  if (b.begin >= b.end) return a;
  return Span{std::min(a.begin, b.begin), std::max(a.end, b.end)};
}

bool Overlap(Span a, Span b) { return a.begin < b.end && b.begin < a.end; }

// The hull of the runs of columns that stood: `here` shows what `before` showed at the same
// place, unlike `content` (the row's content as the other look shows it) and unlike the page's
// ground (the row's first column); a run long enough, mostly of such columns, a few alike ones
// between. White seen twice where white was taken, while the other look shows a bar's words
// there, tells nothing of what stood where. `s`: the columns from the first where both `here`
// and `before` differ from `content` to the last (UnlikeInBoth): what stood is unlike the content
// in both looks, and the columns outside tell nothing (a region changing in the middle of a row
// leaves its sides alone).
Span StoodWithin(const uint32_t* here, const uint32_t* before, const uint32_t* content, uint32_t ground, Span s) {
  Span hull{0, 0};
  // The open run (start < 0: none), and whether a column that changed lies past its last one:
  // the run ends there, or where too long a gap follows it, which is told once the next column
  // that stood comes, or at the end.
  int start = -1, last = -1, stood = 0;
  bool cut = false;
  const auto close = [&] {
    const int length = last + 1 - start;
    if (start >= 0 && length >= kStandRun && stood * kStandUnlikeOf >= length * kStandUnlike)
      hull = Hull(hull, Span{start, last + 1});
    start = -1, stood = 0;
  };
  // Columns x .. x + n - 1, as SameAndUnlike tells them.
  const auto take = [&](int x, int n, uint32_t same, uint32_t stoodBits) {
    const uint32_t changed = ~same & ((1u << n) - 1);
    int at = 0;  // the columns below it are told
    while (stoodBits != 0) {
      const int i = __builtin_ctz(stoodBits), run = __builtin_ctz(~(stoodBits >> i));
      if ((changed >> at) & ((1u << (i - at)) - 1)) cut = true;
      if (start >= 0 && (cut || x + i - last > kStandGap)) close();
      cut = false;
      if (start < 0) start = x + i;
      last = x + i + run - 1;
      stood += run;
      stoodBits &= ~(((1u << run) - 1) << i);
      at = i + run;
    }
    if (at < n && (changed >> at) != 0) cut = true;
  };
  int x = s.begin;
  // A block where nothing stood changes nothing: the next column that stands lies too far past
  // the open run's last to join it. Blocks of 32 such columns are passed over at once where the
  // processor can: an animation or a picture that changed shows nothing twice, and two lines of
  // text show little but their ground alike.
  const bool wide = stitching::WideRows();
  for (; x + 16 <= s.end; x += 16) {
    if (wide) {
      x = stitching::NothingStoodWide(here, before, content, ground, x, s.end);
      if (x + 16 > s.end) break;
    }
    const stitching::PixelBits b = stitching::SameAndUnlike(here, before, content, ground, x);
    if (b.stood != 0) take(x, 16, b.same, b.stood);
  }
  const stitching::PixelBits b = stitching::SameAndUnlikeFew(here, before, content, ground, x, s.end - x);
  take(x, s.end - x, b.same, b.stood);
  close();
  return hull;
}

// Within `unlike` (the columns from the first where one look differs from `content` to the
// last), the columns from the first where `before` does too to the last. `known`, when given: the
// columns from the first to the last where `before` differs from `content` over a span holding
// `unlike`, which mostly tells the answer without reading a pixel.
Span UnlikeInBoth(const uint32_t* before, const uint32_t* content, Span unlike, const Span* known) {
  if (unlike.begin >= unlike.end) return unlike;
  if (known != nullptr && known->begin >= known->end) return Span{unlike.end, unlike.end};
  if (known != nullptr && unlike.begin <= known->begin && known->end <= unlike.end) return *known;
  return UnlikeWithin(before, content, unlike);
}

// The widths of the sides where something stood in at least half the screen's rows, within a
// quarter of the width from an edge or reaching the edge from within half of it (a side the
// decision set aside may end a few columns past the quarter): a sidebar stuck to the window,
// which stands over every row of the screen.
void SidesThatStood(const LastLook& look, int& leftWidth, int& rightWidth) {
  const int quarter = look.w / 4, half = look.w / 2;
  int left = 0, right = look.w, leftRows = 0, rightRows = 0;
  for (int r = 0; r < look.h; ++r) {
    const Span s{look.standBegin[static_cast<size_t>(r)], look.standEnd[static_cast<size_t>(r)]};
    if (s.begin >= s.end) continue;
    if (s.end <= half && (s.begin == 0 || s.end <= quarter)) ++leftRows, left = std::max(left, s.end);
    if (s.begin >= half && (s.end == look.w || s.begin >= look.w - quarter)) ++rightRows, right = std::min(right, s.begin);
  }
  leftWidth = 2 * leftRows >= look.h ? left : 0;
  rightWidth = 2 * rightRows >= look.h ? look.w - right : 0;
}

// Columns 0 .. leftEnd - 1 and rightBegin .. W - 1 stand in every row of the screen (none where
// leftEnd is 0 or rightBegin is W).
void StandInEveryRow(LastLook& look, int leftEnd, int rightBegin) {
  for (size_t r = 0; r < look.standBegin.size(); ++r) {
    Span was{look.standBegin[r], look.standEnd[r]};
    if (leftEnd > 0) was = Hull(was, Span{0, leftEnd});
    if (rightBegin < look.w) was = Hull(was, Span{rightBegin, look.w});
    look.standBegin[r] = was.begin;
    look.standEnd[r] = was.end;
  }
}

// A side that stood over most rows of the screen stands over all of them: the rows where its
// pixels passed for the page's (a line of its text alike in both looks) are no place where the
// page under it shows.
void FillStandingSides(LastLook& look) {
  int left = 0, right = 0;
  SidesThatStood(look, left, right);
  if (left > 0 || right > 0) StandInEveryRow(look, left, look.w - right);
}

// Sides the decision found standing stood over the whole screen: the content under them is the
// page's only where a later grab shows it elsewhere.
void LearnStandingSides(LastLook& look, const StitchDecision& d, Span content) {
  if (d.betweenEnd <= d.betweenBegin) return;
  StandInEveryRow(look, d.betweenBegin > content.begin ? d.betweenBegin : 0,
                  d.betweenEnd < content.end ? d.betweenEnd : look.w);
}

// Whether the spans seen standing, with `more` pixels still to come, cover more than the share of
// the screen's rows of `width` columns that a move can leave standing: past it, what is shown did
// not move.
bool TooMuchStood(const std::vector<Span>& seen, int64_t more, int width) {
  int64_t pixels = more;
  for (const Span& s : seen) pixels += s.end - s.begin;
  return pixels * kMostStandingShare > static_cast<int64_t>(seen.size()) * width;
}

// Rows of spans seen standing, kept when kStandRows rows in a row overlap, widened by the margin.
void KeepStanding(LastLook& look, const std::vector<Span>& seen, Span content) {
  if (TooMuchStood(seen, 0, content.end - content.begin)) return;
  for (int r = 0; r + kStandRows <= look.h; ++r) {
    bool kept = true;
    for (int k = 1; k < kStandRows && kept; ++k)
      kept = Overlap(seen[static_cast<size_t>(r)], seen[static_cast<size_t>(r + k)]);
    if (!kept) continue;
    for (int k = 0; k < kStandRows; ++k) {
      const Span s = seen[static_cast<size_t>(r + k)];
      const Span wider{std::max(0, s.begin - kStandMargin), std::min(look.w, s.end + kStandMargin)};
      for (int t = std::max(0, r + k - kStandMargin); t <= std::min(look.h - 1, r + k + kStandMargin); ++t) {
        const size_t i = static_cast<size_t>(t);
        const Span was = Hull(Span{look.standBegin[i], look.standEnd[i]}, wider);
        look.standBegin[i] = was.begin;
        look.standEnd[i] = was.end;
      }
    }
  }
}

// Each i with targets[i] >= 0 tells, by tell(i), a span of at most `width` columns seen standing
// in row targets[i] of `seen`, hulled there. KeepStanding keeps only runs of rows in a row, and
// each run holds an odd row with its even rows next to it: so the odd rows are told first, an
// even row only beside an odd one that saw something, and the others only where their pixels
// could tip the share of all that was seen. A picture changing in the middle of the screen is
// read in every other row.
template <class Tell>
void TellStanding(std::vector<Span>& seen, const std::vector<int>& targets, int width, Tell tell) {
  const auto into = [&](size_t i) {
    Span& s = seen[static_cast<size_t>(targets[i])];
    s = Hull(s, tell(i));
  };
  const auto seenAt = [&](int t) {
    if (t < 0 || static_cast<size_t>(t) >= seen.size()) return false;
    return seen[static_cast<size_t>(t)].begin < seen[static_cast<size_t>(t)].end;
  };
  std::vector<size_t> even, unasked;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (targets[i] < 0) continue;
    if (targets[i] % 2 != 0)
      into(i);
    else
      even.push_back(i);
  }
  for (const size_t i : even) {
    if (seenAt(targets[i] - 1) || seenAt(targets[i] + 1))
      into(i);
    else
      unasked.push_back(i);
  }
  if (TooMuchStood(seen, static_cast<int64_t>(unasked.size()) * width, width))
    for (const size_t i : unasked) into(i);
}

// How the grab shows the rows of the overlap, image rows from .. to - 1: as the image keeps them
// in the content's columns, and in all of them.
struct OverlapLooks {
  int from, to;
  std::vector<uint8_t> likeImage, likeAll;
  Span content;  // the columns likeImage tells of
  bool anyUnlike = false;
  bool Alike(int y) const { return y >= from && y < to && likeAll[static_cast<size_t>(y - from)] != 0; }
  bool LikeImage(int y) const { return y >= from && y < to && likeImage[static_cast<size_t>(y - from)] != 0; }
};

// told: per row, 1 where the decision found the grab unlike the image in the content's columns,
// or nullptr. Grab rows alikeFrom .. alikeTo - 1 the decision read as the image in all columns.
OverlapLooks CompareOverlap(const LastLook& look, const PixelView& image, const PixelView& grab, int offset,
                            Span content, int from, int to, const uint8_t* told, int alikeFrom = 0, int alikeTo = 0) {
  const size_t n = static_cast<size_t>(std::max(0, to - from));
  OverlapLooks o{from, to, std::vector<uint8_t>(n, 0), std::vector<uint8_t>(n, 0), content};
  for (int y = from; y < to; ++y) {
    const size_t i = static_cast<size_t>(y - from);
    const uint32_t *kept = KeptRowNow(look, image, y), *now = ViewRow(grab, y - offset);
    // A row of the first screen may be kept beside the image, newer than the row compared.
    if (y - offset >= alikeFrom && y - offset < alikeTo && kept == ViewRow(image, y)) {
      o.likeImage[i] = o.likeAll[i] = 1;
      continue;
    }
    if (told != nullptr && kept == ViewRow(image, y))
      o.likeImage[i] = told[i] == 0 ? 1 : 0;
    else
      o.likeImage[i] = RowsEqual(kept, now, content) ? 1 : 0;
    // Most ranges have no sides outside the content: nothing more to compare.
    o.likeAll[i] = o.likeImage[i] != 0 && (content.begin == 0 || RowsEqual(kept, now, Span{0, content.begin})) &&
                   (content.end == look.w || RowsEqual(kept, now, Span{content.end, look.w}));
    o.anyUnlike = o.anyUnlike || o.likeAll[i] == 0;
  }
  return o;
}

// The columns of s from the first where a and b differ to the last, as UnlikeWithin tells them,
// given that the rows agree in `agree`, within s.
Span UnlikeBeside(const uint32_t* a, const uint32_t* b, Span s, Span agree) {
  return Hull(UnlikeWithin(a, b, Span{s.begin, agree.begin}), UnlikeWithin(a, b, Span{agree.end, s.end}));
}

// Two ways something shows it stands once the content moved. The grab shows it where the last
// look did, while the content now there showed otherwise. Or the image kept it from a screen row
// that still shows it there, while the row of content it was taken for now shows otherwise where
// nothing stands: a bar's words over a white row must not make the white where it was taken
// stand.
// Returns, per screen row the first way looked at, the columns from the first where the grab
// differs from the content that came there to the last (begin > end: not looked at; none when
// nothing was).
std::vector<Span> LearnStanding(LastLook& look, const PixelView& image, const PixelView& grab, int offset, int moved,
                                Span content, int topBand, int bottomBand, const OverlapLooks& overlap) {
  // Something standing over rows the image holds shows them otherwise; new rows show nothing yet.
  if (moved == 0 || !overlap.anyUnlike) return {};
  // What a band standing at the bottom shows is no content that came anywhere: a log's lines,
  // alike but for their digits, would stand where the status bar's row is what came.
  const int cameEnd = bottomBand > 0 ? look.h - kStitchBorder - bottomBand : look.h;
  const size_t h = static_cast<size_t>(look.h);
  std::vector<Span> unlikeCame(h, Span{1, 0});
  std::vector<Span> seen(h, Span{0, 0});
  std::vector<int> targets(h, -1);
  // The decision's band across the top stands in all its columns: nothing to learn of its rows.
  for (int r = std::max({0, -moved, topBand}); r < look.h && r + moved < cameEnd; ++r) {
    const int y = r + offset;
    if (overlap.Alike(y)) continue;
    // A row whose content's columns agree with the row the look reads differs only beside them
    // (where a scroll bar's thumb moved): those columns alone are read.
    const uint32_t *now = ViewRow(grab, r), *came = LookRow(look, image, r + moved);
    const Span unlike = unlikeCame[static_cast<size_t>(r)] =
        overlap.LikeImage(y) && came == KeptRowNow(look, image, y) ? UnlikeBeside(now, came, content, overlap.content)
                                                                   : UnlikeWithin(now, came, content);
    if (unlike.begin < unlike.end) targets[static_cast<size_t>(r)] = r;
  }
  TellStanding(seen, targets, content.end - content.begin, [&](size_t i) {
    const int r = static_cast<int>(i);
    const uint32_t *now = ViewRow(grab, r), *came = LookRow(look, image, r + moved), *before = LookRow(look, image, r);
    return StoodWithin(now, before, came, now[content.begin], UnlikeInBoth(before, came, unlikeCame[i], nullptr));
  });
  KeepStanding(look, seen, content);
  const int top = TopBandRows(look, topBand);
  seen.assign(h, Span{0, 0});
  // Per image row of the overlap, the screen row it was taken from, where that is to be asked.
  targets.assign(static_cast<size_t>(std::max(0, overlap.to - overlap.from)), -1);
  for (int y = overlap.from; y < overlap.to; ++y) {
    const int r = y - offset, taken = look.from[static_cast<size_t>(y)];
    if (taken == r || taken < 0 || taken >= look.h || overlap.Alike(y)) continue;
    // Where something stands over the whole row, whatever stood where the row was taken is
    // passed over anyway.
    const Span over = StandsAt(look, r, top);
    if (over.begin > content.begin || over.end < content.end) targets[static_cast<size_t>(y - overlap.from)] = taken;
  }
  TellStanding(seen, targets, content.end - content.begin, [&](size_t i) {
    const int y = overlap.from + static_cast<int>(i), r = y - offset, taken = targets[i];
    // Where the grab differs from the image's row the first way told, when the look reads the
    // content that came there in the image.
    const uint32_t *kept = KeptRowNow(look, image, y), *now = ViewRow(grab, r), *there = ViewRow(grab, taken);
    const Span& unlike = unlikeCame[static_cast<size_t>(r)];
    const bool known = unlike.begin <= unlike.end && LookRow(look, image, r + moved) == kept;
    const Span s = UnlikeInBoth(kept, now, UnlikeWithin(there, now, content), known ? &unlike : nullptr);
    const Span stood = StoodWithin(there, kept, now, there[content.begin], s);
    return Overlap(stood, StandsAt(look, r, top)) ? Span{0, 0} : stood;
  });
  KeepStanding(look, seen, content);
  FillStandingSides(look);
  return unlikeCame;
}

// The columns of the span outside `out` agree.
bool AgreeOutside(const uint32_t* a, const uint32_t* b, Span s, Span out) {
  if (out.begin >= out.end) return RowsEqual(a, b, s);
  return RowsEqual(a, b, Span{s.begin, std::max(s.begin, std::min(out.begin, s.end))}) &&
         RowsEqual(a, b, Span{std::min(s.end, std::max(out.end, s.begin)), s.end});
}

// The same, where `unlike` (the columns from the first where a and b differ to the last, over a
// span holding s; begin > end: not known) mostly tells it without reading a pixel.
bool AgreeOutsideKnowing(const uint32_t* a, const uint32_t* b, Span s, Span out, Span unlike) {
  if (unlike.begin > unlike.end) return AgreeOutside(a, b, s, out);
  const auto in = [](int x, Span t) { return x >= t.begin && x < t.end; };
  const int first = std::max(unlike.begin, s.begin), last = std::min(unlike.end, s.end);
  if (first >= last || (out.begin <= first && last <= out.end)) return true;
  // Either end differs, where it lies in the span.
  const int ends[2] = {unlike.begin, unlike.end - 1};
  for (const int x : ends)
    if (in(x, s) && !in(x, out)) return false;
  return AgreeOutside(a, b, s, out);
}

// Rows between two that tint which may have shown rows alike: a line's blank rows under a bar
// that leaves white as it is.
constexpr int kTintGap = 16;

// The screen rows from the band across the top to the returned one show what passes under them
// otherwise than the page does: a see-through bar stuck at the top, its shadow. Two looks of them
// agree, and they are never taken. Its rows showed rows unlike the image at two of the last four
// moves (at the one move, before a second: the page may stand after it), a few rows at most
// between two of them, within the range's top quarter; the rows between showed white, which the
// bar may leave as it is. A block fading in lower down while the page moves shows unlike the
// image at two moves too, and is taken as it ends up.
int TintEnd(const LastLook& look, int top) {
  const int enough = look.moves < 2 ? 1 : 2;
  int end = std::max(0, top);
  for (int r = end; r < look.h / kStoodTopShare && r - end <= kTintGap; ++r)
    if (__builtin_popcount(look.differed[static_cast<size_t>(r)]) >= enough) end = r + 1;
  return end;
}

// A row unlike the image only where something stands, over the screen row now or over the one
// it was taken from, shows the page as the image keeps it: a floating button differs at every
// move, but only on its face, while a see-through bar tints all that passes under it.
void NoteDiffering(LastLook& look, const PixelView& image, const PixelView& grab, int offset, Span content,
                   const OverlapLooks& overlap) {
  for (int r = 0; r < look.h; ++r) {
    const int y = r + offset;
    bool differs = y >= overlap.from && y < overlap.to && overlap.likeImage[static_cast<size_t>(y - overlap.from)] == 0;
    if (differs) {
      const int taken = look.from[static_cast<size_t>(y)];
      const Span stood = Hull(StandsAt(look, r, 0), taken >= 0 && taken < look.h ? StandsAt(look, taken, 0) : Span{0, 0});
      if (stood.begin < stood.end) differs = !AgreeOutside(KeptRowNow(look, image, y), ViewRow(grab, r), content, stood);
    }
    uint8_t& history = look.differed[static_cast<size_t>(r)];
    history = static_cast<uint8_t>((history << 1 | (differs ? 1 : 0)) & 0xF);
  }
  look.moves = std::min(look.moves + 1, 4);
}

// Whether the pixels where the grab's row shows otherwise than the image keeps it all show what
// the last look showed at the same place of the screen, while the page moved: something that stuck
// there since (a sidebar that reached its end), not the page changing.
bool ChangedOnlyWhereItStood(const uint32_t* now, const uint32_t* kept, const uint32_t* before, Span s) {
  bool changed = false;
  for (int x = s.begin; x < s.end; ++x) {
    if (now[x] == kept[x]) continue;
    if (now[x] != before[x]) return false;
    changed = true;
  }
  return changed;
}

// Rows on either side of a row that must agree too before two looks tell that it is settled: a
// block sliding into place shows a row of it alike twice where the row lies in the blank between
// two lines, but not the lines around it.
constexpr int kSettleRows = 4;

// Per row of from .. to - 1, whether it and the kSettleRows rows on either side agree.
std::vector<uint8_t> AgreeAround(const std::vector<uint8_t>& agree) {
  const int n = static_cast<int>(agree.size());
  std::vector<uint8_t> around(agree.size(), 0);
  // Row i is told once the rows up to i + kSettleRows are counted: `run` rows agree in a row
  // up to row k.
  int run = 0;
  for (int k = 0; k < n; ++k) {
    run = agree[static_cast<size_t>(k)] != 0 ? run + 1 : 0;
    const int i = k - kSettleRows;
    if (i >= 0) around[static_cast<size_t>(i)] = run >= k - std::max(0, i - kSettleRows) + 1 ? 1 : 0;
  }
  for (int i = std::max(0, n - kSettleRows); i < n; ++i)
    around[static_cast<size_t>(i)] = run >= n - std::max(0, i - kSettleRows) ? 1 : 0;
  return around;
}

// Whether the image's row y, as the looks keep it, is alike in the content's columns. The record
// knows whether the image row is alike in its middle columns and in all of them: a row that is
// not alike in the middle needs no reading, nor one alike in all, and any other only the columns
// on either side of the middle.
bool UniformKept(const LastLook& look, const PixelView& image, const StitchRows& rows, int y, Span content) {
  const uint32_t* kept = KeptRowNow(look, image, y);
  const Span m = stitching::MiddleOf(look.w);
  const bool known = kept == ViewRow(image, y) && rows.pixels == image.pixels && rows.width == image.width &&
                     rows.height == image.height && y < rows.knownRows && rows.rangeWidth == look.w && m.begin < m.end &&
                     content.begin <= m.begin && m.end <= content.end;
  if (!known) return stitching::IsUniform(kept, content);
  if (rows.uniform[static_cast<size_t>(y)] == 0) return false;
  if (rows.uniform[static_cast<size_t>(y)] == kWholeRowAlike) return true;
  return stitching::IsUniform(kept, Span{content.begin, m.begin + 1}) && stitching::IsUniform(kept, Span{m.end - 1, content.end});
}

// Image rows from .. to - 1, shown by grab rows y - offset, take what the grab shows of the page
// itself, in every column outside what stands where it shows them: the columns that something
// stood over where the row was taken; all of them where the row and the rows around it agree with
// the last look of them (and the image keeps it otherwise, once it settled), or, while it is not
// settled, held still over a second look (at the same place of the screen). A row settles once it
// shows as the image keeps it at another place of the screen, the rows around it too, or two looks
// agree on it. Returns the first row rewritten (to when none).
int LookAgain(LastLook& look, const PixelView& image, const PixelView& grab, const StitchRows& rows, int offset,
              int moved, Span content, int top, const OverlapLooks& overlap, const std::vector<Span>& unlikeCame) {
  const int from = overlap.from, to = overlap.to;
  if (to <= from) return to;
  const size_t n = static_cast<size_t>(to - from);
  const std::vector<uint8_t>&likeImage = overlap.likeImage, &likeAll = overlap.likeAll;
  const bool anyUnlike = overlap.anyUnlike;
  std::vector<uint8_t> likeLook(n, 0), held(n, 0);
  const int tintEnd = anyUnlike ? TintEnd(look, top) : top;
  // Only rows near one to take again are compared again: none on the usual tick, where every row
  // shows as the image keeps it.
  const std::vector<uint8_t> allAlike = anyUnlike ? AgreeAround(likeAll) : std::vector<uint8_t>(n, 1);
  for (int y = from; y < to && anyUnlike; ++y) {
    const int r = y - offset, last = r + moved;
    const size_t i = static_cast<size_t>(y - from);
    if (allAlike[i] != 0) continue;
    const bool tints = r < tintEnd;
    held[i] = static_cast<size_t>(r) < look.still.size() && look.still[static_cast<size_t>(r)] != 0 && !tints;
    if (held[i] != 0 && moved != 0)
      held[i] = !ChangedOnlyWhereItStood(ViewRow(grab, r), KeptRowNow(look, image, y), LookRow(look, image, r),
                                         Span{0, look.w});
    if (last >= top && last < look.h && !tints)
      likeLook[i] = AgreeOutsideKnowing(ViewRow(grab, r), LookRow(look, image, last), content,
                                        Hull(StandsAt(look, r, top), StandsAt(look, last, top)),
                                        unlikeCame.empty() ? Span{1, 0} : unlikeCame[static_cast<size_t>(r)]);
  }
  // Where every row shows as the image keeps it, no row was looked at again.
  const std::vector<uint8_t> settles = AgreeAround(likeImage);
  const std::vector<uint8_t> twice = anyUnlike ? AgreeAround(likeLook) : likeLook,
                             newest = anyUnlike ? AgreeAround(held) : held;
  if (moved != 0) NoteDiffering(look, image, grab, offset, content, overlap);
  int first = to;
  for (int y = to - 1; y >= from; --y) {  // in memory order
    const int r = y - offset, taken = look.from[static_cast<size_t>(y)];
    const size_t i = static_cast<size_t>(y - from);
    uint8_t& settled = look.settled[static_cast<size_t>(y)];
    uint32_t* kept = nullptr;
    if (r < top) continue;
    // A blank row agrees at any place: a block still sliding into place shows it so twice.
    if (settled == 0 && likeImage[i] != 0 && settles[i] != 0 && taken != r && !UniformKept(look, image, rows, y, content))
      settled = 1;
    const uint32_t* now = ViewRow(grab, r);
    if (likeAll[i] != 0) continue;
    const Span here = StandsAt(look, r, top);
    bool wrote = false;
    const auto take = [&](Span s) {
      const auto copy = [&](int b, int e) {
        if (b >= e) return;
        if (kept == nullptr) kept = KeptRow(look, image, y);
        std::memcpy(kept + b, now + b, sizeof(uint32_t) * static_cast<size_t>(e - b));
        wrote = true;
      };
      if (here.begin >= here.end) return copy(s.begin, s.end);
      copy(s.begin, std::min(s.end, here.begin));
      copy(std::max(s.begin, here.end), s.end);
    };
    // Two looks that agree outside what stands win over the image, a settled row's too, where
    // they show it otherwise: a block whose slide ends while the page stands, after two looks
    // showed it alike a pixel short of its place, is taken again as it ends up. Not in the range's
    // top quarter, where a header sticks: two looks through its see-through rows agree too, on
    // rows whose blank under it gave no sign of its tint yet.
    if (twice[i] != 0 &&
        (settled == 0 || (r >= look.h / kStoodTopShare && !AgreeOutside(KeptRowNow(look, image, y), now, content, here)))) {
      take(Span{0, look.w});
      settled = 1;
    } else if (settled == 0 && newest[i] != 0) {
      // The newest look that held still wins until the row settles. Once two looks showed it
      // alike, it is the page: what holds still over it later is rather something that stuck
      // there (a sidebar, a bar the page passes under) than the page changing again.
      take(Span{0, look.w});
    }
    // What stood where the row was taken is taken from a look that shows the rest of the row as
    // the image keeps it: not through a see-through bar's tint, nor while the row still changes.
    if (!wrote && taken >= 0 && taken < look.h && taken != r) {
      const Span covered = StandsAt(look, taken, top);
      if (covered.begin < covered.end && AgreeOutside(KeptRowNow(look, image, y), now, content, Hull(here, covered)))
        take(covered);
    }
    if (!wrote) continue;
    look.from[static_cast<size_t>(y)] = r;
    if (y >= look.h) first = y;
  }
  return first;
}

// The grab becomes the last look: its rows that the image keeps as it shows them (inImage(r))
// are read there when they are needed, which on the usual tick is never; the others are copied.
// Of rows 0 .. sameTop - 1, which the caller knows the grab shows as the look's own pixels do in
// the content's columns (a band standing at the top, unchanged), only the other columns are
// compared, and the row is copied only where they differ.
template <class InImage>
void KeepPixels(LastLook& look, const PixelView& grab, int offset, InImage inImage, int sameTop = 0,
                Span content = Span{0, 0}) {
  look.offset = offset;
  look.seenNewer = false;
  for (int r = 0; r < look.h; ++r) {
    const bool there = inImage(r);
    uint32_t* own = ScreenRow(look.pixels, look.w, r);
    const bool holds = !there && r < sameTop && look.inImage[static_cast<size_t>(r)] == 0 &&
                       RowsEqual(own, ViewRow(grab, r), Span{0, content.begin}) &&
                       RowsEqual(own, ViewRow(grab, r), Span{content.end, look.w});
    look.inImage[static_cast<size_t>(r)] = there ? 1 : 0;
    if (!there && !holds) std::memcpy(own, ViewRow(grab, r), sizeof(uint32_t) * static_cast<size_t>(look.w));
  }
}

// The last look's rows read in the image, copied to the look's own pixels.
void HoldLook(LastLook& look, const PixelView& image) {
  for (int r = 0; r < look.h && r < static_cast<int>(look.inImage.size()); ++r) {
    uint8_t& there = look.inImage[static_cast<size_t>(r)];
    if (there == 0) continue;
    std::memcpy(ScreenRow(look.pixels, look.w, r), LookRow(look, image, r),
                sizeof(uint32_t) * static_cast<size_t>(look.w));
    there = 0;
  }
}

// What the content's move tells of the columns beside the content's, where a scroll bar may stand.
void NoteSides(LastLook& look, const PixelView& image, const PixelView& grab, int moved, Span content) {
  if (moved == 0 || (content.begin == 0 && content.end == look.w)) return;
  std::vector<const uint32_t*> now(static_cast<size_t>(look.h)), before(now.size());
  for (int r = 0; r < look.h; ++r) {
    now[static_cast<size_t>(r)] = ViewRow(grab, r);
    before[static_cast<size_t>(r)] = LookRow(look, image, r);
  }
  for (const Span side : {Span{0, content.begin}, Span{content.end, look.w}})
    NoteSideEdges(now.data(), before.data(), look.h, moved, side.begin, side.end, look.sideStood.data(),
                  look.sidePassed.data());
}

// From a grab of the screen as it stands, when it held still since the last look (most rows
// alike), the rows of the image's last screen not settled yet take what it shows where it agrees
// with that look, and what stands shows as it shows it. Returns whether it held still.
bool RefreshTail(LastLook& look, const PixelView& image, const PixelView& grab, int scrollY) {
  const Span all{0, look.w};
  const int tintEnd = TintEnd(look, look.top);
  int still = 0;
  for (int r = 0; r < look.h; ++r) still += RowsEqual(ViewRow(grab, r), LookRow(look, image, r), all) ? 1 : 0;
  if (still * 2 < look.h) return false;
  const int to = std::min({scrollY, image.height, look.offset + look.h});
  for (int y = std::max(0, look.offset + look.top); y < to; ++y) {
    const int r = y - look.offset;
    uint32_t* kept = ViewRow(image, y);
    const uint32_t* now = ViewRow(grab, r);
    if (r < tintEnd) continue;
    if (look.settled[static_cast<size_t>(y)] == 0 && !RowsEqual(kept, now, all) &&
        RowsEqual(now, LookRow(look, image, r), all)) {
      std::memcpy(kept, now, sizeof(uint32_t) * static_cast<size_t>(look.w));
      continue;
    }
    // What stands shows as the last screen shows it, though the row settled: the image may hold
    // there what stood over the row when it was taken (another button, the same one at an
    // earlier place of the screen).
    const Span s = StandsAt(look, r, 0);
    if (s.begin < s.end && RowsEqual(now, LookRow(look, image, r), s))
      std::memcpy(kept + s.begin, now + s.begin, sizeof(uint32_t) * static_cast<size_t>(s.end - s.begin));
  }
  return true;
}

}  // namespace

void StartLastLook(LastLook& look, const PixelView& grab, int rangeWidth, int rangeHeight, int imageRows) {
  look.w = rangeWidth;
  look.h = rangeHeight;
  look.offset = 0;
  look.end = rangeHeight;
  look.pixels.resize(static_cast<size_t>(rangeWidth) * rangeHeight);
  look.standBegin.assign(static_cast<size_t>(rangeHeight), 0);
  look.standEnd.assign(static_cast<size_t>(rangeHeight), 0);
  look.from.assign(static_cast<size_t>(std::max(imageRows, rangeHeight)), -1);
  look.settled.assign(look.from.size(), 0);
  look.firstScreen.assign(static_cast<size_t>(rangeHeight), std::vector<uint32_t>());
  look.differed.assign(static_cast<size_t>(rangeHeight), 0);
  look.moves = 0;
  look.sideStood.assign(static_cast<size_t>(rangeWidth), 0);
  look.sidePassed.assign(static_cast<size_t>(rangeWidth), 0);
  look.inImage.assign(static_cast<size_t>(rangeHeight), 0);
  look.contentBegin = 0;
  look.contentEnd = rangeWidth;
  for (int y = 0; y < rangeHeight; ++y) {
    look.from[static_cast<size_t>(y)] = y;
    look.settled[static_cast<size_t>(y)] = 1;  // the page as it stood when the capture began
  }
  KeepPixels(look, grab, 0, [](int) { return false; });
}

void ApplyStitchLooking(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                        const StitchDecision& d, StitchRows& rows, LastLook& look) {
  const bool looked = look.w == rangeWidth && look.h == rangeHeight && look.from.size() >= static_cast<size_t>(image.height);
  if (!looked) {
    // The append may write rows the last look reads in the image: it keeps its own copy first.
    HoldLook(look, image);
    ApplyStitch(image, grab, rangeWidth, rangeHeight, d.keyRow, d.matchRow, rows);
    return;
  }
  const int offset = d.keyRow - d.matchRow, moved = offset - look.offset;
  const Span content{d.contentBegin, d.contentEnd > d.contentBegin ? d.contentEnd : rangeWidth};
  const int from = std::max(0, offset), to = std::min(d.keyRow, offset + rangeHeight);
  // What stands is looked for in every column, and what is taken, taken in all: a button near
  // the range's edge may pass for a scroll bar's track. Only whether rows agree is told in the
  // content's columns, as a scroll bar's thumb moves by itself.
  const bool told = d.betweenEnd <= d.betweenBegin && d.contentEnd > d.contentBegin &&
                    d.overlapUnlike.size() == static_cast<size_t>(std::max(0, to - from));
  const OverlapLooks overlap =
      CompareOverlap(look, image, grab, offset, content, from, to, told ? d.overlapUnlike.data() : nullptr);
  LearnStandingSides(look, d, content);
  NoteSides(look, image, grab, moved, content);
  const std::vector<Span> unlikeCame =
      LearnStanding(look, image, grab, offset, moved, Span{0, rangeWidth}, d.topBand, d.bottomBand, overlap);
  const int top = TopBandRows(look, d.topBand);
  look.top = top;
  const int rewritten = LookAgain(look, image, grab, rows, offset, moved, content, top, overlap, unlikeCame);
  // The record learns the rows again from the first one rewritten.
  if (rewritten < to) rows.knownRows = std::min(rows.knownRows, rewritten);
  // The rows the append writes again above the image's end keep what they hold where something
  // stands at the grab's row: the image has the page there (a sidebar that stuck since showed it
  // in its place), the grab what stood over it.
  std::vector<int> keptRows;
  std::vector<Span> keptColumns;
  std::vector<uint32_t> keptPixels;
  for (int y = std::max({d.keyRow, offset, look.h}); y < std::min({look.end, image.height, offset + look.h}); ++y) {
    const Span s = StandsAt(look, y - offset, top);
    if (s.begin >= s.end) continue;
    keptRows.push_back(y);
    keptColumns.push_back(s);
    keptPixels.insert(keptPixels.end(), ViewRow(image, y) + s.begin, ViewRow(image, y) + s.end);
  }
  ApplyStitch(image, grab, rangeWidth, rangeHeight, d.keyRow, d.matchRow, rows);
  for (size_t i = 0, at = 0; i < keptRows.size(); ++i) {
    const Span s = keptColumns[i];
    std::memcpy(ViewRow(image, keptRows[i]) + s.begin, keptPixels.data() + at,
                sizeof(uint32_t) * static_cast<size_t>(s.end - s.begin));
    at += static_cast<size_t>(s.end - s.begin);
  }
  if (!keptRows.empty()) rows.knownRows = std::min(rows.knownRows, keptRows.front());
  // A row that kept what it held where something stands keeps where it was taken from too: what
  // stood there then is still to be taken again.
  for (int y = d.keyRow; y < std::min(image.height, offset + rangeHeight); ++y) {
    if (!std::binary_search(keptRows.begin(), keptRows.end(), y)) look.from[static_cast<size_t>(y)] = y - offset;
    look.settled[static_cast<size_t>(y)] = 0;
  }
  // The rows the append copied show in the image as in the grab, unless the first screen's
  // newer look of them is kept beside the image.
  const int copied = rangeHeight - 2 * kStitchBorder;
  // The decision read the rows at the top against the look's, when the look was the screen seen
  // last; the rows from the match on may hold a second look at them since.
  const bool decided = d.contentEnd > d.contentBegin && !look.seenNewer;
  KeepPixels(
      look, grab, offset,
      [&](int r) {
        const int y = r + offset;
        if (overlap.Alike(y)) return true;
        if (std::binary_search(keptRows.begin(), keptRows.end(), y)) return false;
        return r >= d.matchRow && r - d.matchRow < copied && r < grab.height && y < image.height &&
               KeptRowNow(look, image, y) == ViewRow(image, y);
      },
      decided ? std::min(d.seenTop, d.matchRow) : 0, Span{d.contentBegin, d.contentEnd});
  look.contentBegin = content.begin;
  look.contentEnd = content.end;
  look.end = d.newScrollY;
}

ScreenSeen SeenBy(LastLook& look, const PixelView& image) {
  look.seenRows.resize(static_cast<size_t>(look.h));
  for (int r = 0; r < look.h; ++r)
    look.seenRows[static_cast<size_t>(r)] =
        look.seenNewer ? ViewRow(look.seen, r) : LookRow(look, image, r);
  ScreenSeen seen{look.h > 0 ? look.seenRows.data() : nullptr};
  SidesThatStood(look, seen.stoodLeft, seen.stoodRight);
  // Only what was seen standing, not the bands decisions found at the top: a page that repeats
  // shows a band at the top at some moves and not at others.
  seen.stoodTop = TopBandRows(look, 0, kStoodTopShare);
  return seen;
}

void KeepSeen(LastLook& look, const PixelView& grab) {
  if (look.w == 0) return;
  look.seen = grab;
  look.seenNewer = true;
}

void LookStill(LastLook& look, const PixelView& image, const PixelView& grab, StitchRows& rows, const StitchDecision& d,
               int scrollY) {
  if (look.w == 0 || look.from.size() < static_cast<size_t>(image.height)) return;
  const int from = std::max(0, look.offset), to = std::min({scrollY, image.height, look.offset + look.h});
  const Span content{look.contentBegin, look.contentEnd};
  const bool read = d.outcome == StitchOutcome::Unchanged && d.keyRow - d.matchRow == look.offset;
  const OverlapLooks overlap = CompareOverlap(look, image, grab, look.offset, content, from, to, nullptr,
                                              read ? d.matchRow + 1 - d.alikeRows : 0, read ? d.matchRow + 1 : 0);
  const int rewritten = LookAgain(look, image, grab, rows, look.offset, 0, content, look.top, overlap, {});
  if (rewritten < to) rows.knownRows = std::min(rows.knownRows, rewritten);
  KeepPixels(look, grab, look.offset, [&](int r) { return overlap.Alike(r + look.offset); });
}

bool LookAtTick(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                const StitchDecision& d, bool append, int scrollY, StitchRows& rows, LastLook& look) {
  if (append) {
    ApplyStitchLooking(image, grab, rangeWidth, rangeHeight, d, rows, look);
    return false;
  }
  if (ShowsTheLastLooksPlace(look, d)) {
    LookStill(look, image, grab, rows, d, scrollY);
    return false;
  }
  KeepSeen(look, grab);
  return true;
}

void FinishLastLook(LastLook& look, const PixelView& image, const PixelView& grab, int scrollY) {
  if (look.w == 0) return;
  // The look no longer reads the image, which the finish writes (again, when the user finishes
  // once more after a name was refused).
  HoldLook(look, image);
  for (int y = 0; y < look.h && y < image.height; ++y) {
    std::vector<uint32_t>& row = look.firstScreen[static_cast<size_t>(y)];
    if (!row.empty()) std::memcpy(ViewRow(image, y), row.data(), sizeof(uint32_t) * row.size());
    std::vector<uint32_t>().swap(row);
  }
  const bool held = RefreshTail(look, image, grab, scrollY);
  // The scroll bar, as the grab shows it when the screen held still, else as the last look did.
  std::vector<const uint32_t*> screen(static_cast<size_t>(look.h));
  for (int r = 0; r < look.h; ++r)
    screen[static_cast<size_t>(r)] = held ? ViewRow(grab, r) : ScreenRow(look.pixels, look.w, r);
  for (const bool right : {false, true}) {
    int begin = 0, end = 0;
    BarColumns(look.sideStood.data(), look.sidePassed.data(), right ? look.contentEnd : 0,
               right ? look.w : look.contentBegin, right, begin, end);
    ShowScrollBarOnce(image, screen.data(), look.h, begin, end, look.offset, std::min(scrollY, image.height));
  }
}
