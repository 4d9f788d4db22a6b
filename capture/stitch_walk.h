// The search for the image's end in the grab: key rows propose places, places are judged and
// the best of them wins. How two rows are compared is left to a Rows type, made afresh for each
// frame (it may keep a reference to it), that promises the following.
//
//   uint32_t Hashed(): how many row pairs it has compared by their hashes so far. A place judged
//     while it did not grow was compared pixel for pixel throughout.
//   bool Uniform(int y): image row y is alike in the frame's middle columns, told exactly.
//   bool Candidates(int y, bool common, const Judged&, std::vector<int>& out): whether key row y
//     is common, shown by more than kMostAlikeRows grab rows lastGrabRow up to topBand pixel for
//     pixel in the voting columns; when that is as asked, out becomes the Proposals of those grab
//     rows (else it is left empty).
//   bool ImageRowsShowing(int g, int from, int to, std::vector<int>& out): out becomes the image
//     rows `to` up to `from`, the lowest first, equal to grab row g pixel for pixel in the voting
//     columns; true, and out empty, when there are more than kMostAlikeRows of them.
//   void BeginPlace(): a place is about to be judged. Whether Agree compares hashes (Hashing) is
//     settled here and holds until the next place.
//   bool Agree(int o, int g): image row g + o and grab row g agree in the voting columns. Only a
//     hash may be wrong, and only by making a pair agree that does not.
//   bool AgreeExactly(int o, int g): the same, told pixel for pixel.
//   bool Hashing(): Agree compares hashes for the place being judged.
//   void Fill(int o, int lo, int last, uint8_t* out): only while Hashing. out[0 ..] become the
//     RowFacts of rows lo .. last at offset o as Agree tells them, and Hashed counts them.
//   Verdict Accept(const Frame&, std::vector<Place>& places, size_t king, std::vector<size_t>&
//     hangsOn, Scratch&): what the search finds when places[king] is the best of a key row's
//     places, the choice hanging on places[hangsOn]: the place the literal search finds, or
//     Unsure when that cannot be vouched for.
//   Verdict Nothing(const Frame&, std::vector<Place>& places, Scratch&): what the search finds
//     when it decided nothing with these places qualified: nothing, or Unsure when the literal
//     search cannot be vouched to have gone the same way.
#ifndef TALLSNAP_CAPTURE_STITCH_WALK_H
#define TALLSNAP_CAPTURE_STITCH_WALK_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "capture/stitch.h"
#include "capture/stitch_rows.h"
#include "capture/stitch_score.h"
#include "capture/stitch_stands.h"

namespace stitching {

// What one search compares: the rows of the image that can be joined (above a band standing at
// the bottom), the grab rows above that band, and the columns that vote.
struct Frame {
  PixelView image, grab;
  ScreenSeen seen;
  int w, h, scrollY;
  int band;         // rows standing at the image's end, set aside
  int lastGrabRow;  // the lowest grab row compared
  Motion motion;    // where the last append left the image's end, and the move then
  int topBand;      // grab rows at the top that stand where the screen seen last showed them
  Span vote;
  Span middle;
};

inline Frame FrameFor(const PixelView& image, const PixelView& grab, ScreenSeen seen, int w, int h, int scrollY,
                      int topBand, Span content, int lastMove) {
  return Frame{image, grab, seen, w, h, scrollY, 0, h - 1, Motion{LastOffsetOf(scrollY, h), lastMove}, topBand, content,
               MiddleOf(w)};
}

inline void SetBand(Frame& f, int band) {
  f.band = band;
  // The band stands over the grab's last rows as well: from the one above the border on.
  f.lastGrabRow = band > 0 ? f.h - 1 - kStitchBorder - band : f.h - 1;
}

// Offsets whose place was judged this search: each is judged once, on its whole overlap,
// whichever key row proposes it.
struct Judged {
  std::vector<uint8_t> seen;
  int h;
  explicit Judged(const Frame& f) : seen(static_cast<size_t>(f.scrollY + f.h), 0), h(f.h) {}
  bool Seen(int o) const { return seen[static_cast<size_t>(o + h - 1)] != 0; }
  bool Take(int o) {
    uint8_t& s = seen[static_cast<size_t>(o + h - 1)];
    if (s) return false;
    s = 1;
    return true;
  }
};

// The grab row that would show key row y at the place the motion expects.
inline int ExpectedRow(const Frame& f, int y) { return y - f.motion.lastOffset - f.motion.lastMove; }

// Visits the rows (rising) from the one nearest `target` outwards, the higher of two as near
// first (its place is the larger move): visit(i) for each index until it returns false.
template <class Visit>
void Outwards(const std::vector<int>& rows, int target, Visit visit) {
  size_t from = static_cast<size_t>(std::lower_bound(rows.begin(), rows.end(), target) - rows.begin()), to = from;
  while (from > 0 || to < rows.size()) {
    const bool up = from > 0 && (to == rows.size() || target - rows[from - 1] <= rows[to] - target);
    if (!visit(up ? --from : to++)) return;
  }
}

// The grab rows whose places key row y proposes, into out, the lowest first: of those equal to it
// (`equal`, rising), all, or when there are more than kMostAlikeRows, those of the
// kMostAlikeRows places nearest the one the motion expects; but for places judged already. True
// in the second case: the key row is common.
inline bool Proposals(const Frame& f, int y, const std::vector<int>& equal, const Judged& judged,
                      std::vector<int>& out) {
  out.clear();
  size_t from = 0, to = equal.size();
  if (to > static_cast<size_t>(kMostAlikeRows)) {
    int taken = 0;
    from = equal.size(), to = 0;
    Outwards(equal, ExpectedRow(f, y), [&](size_t i) {
      from = std::min(from, i), to = std::max(to, i + 1);
      return ++taken < kMostAlikeRows;
    });
  }
  for (size_t i = to; i-- > from;)
    if (!judged.Seen(y - equal[i])) out.push_back(equal[i]);
  return to - from < equal.size();
}

struct Scratch {
  std::vector<uint8_t> rows;  // a place's RowFacts while it is judged
  ScoreScratch score;
  int64_t rowsLeft = 0;  // of the rows the tick may judge places on
  bool spent = false;    // a place was left unjudged for want of them
};

// The grab rows of the place at offset o that overlap the image: lo .. hi.
inline void OverlapOf(const Frame& f, int o, int& lo, int& hi) {
  lo = std::max(0, -o);
  hi = std::min(f.lastGrabRow, f.scrollY - 1 - f.band - o);
}

enum class Found { Nothing, Place, Unsure };
struct Verdict {
  Found found = Found::Nothing;
  Place place;
  Span vote{0, 0};  // the columns that voted for it
};

// Row g of the place at offset o. Only rows that agree are asked whether they are uniform: the
// literal rows find that out on demand.
template <class Rows>
uint8_t FactsOf(Rows& rows, int o, int g) {
  const bool agree = rows.Agree(o, g);
  return RowFacts(agree, agree && rows.Uniform(g + o));
}

// Judges the place at offset o with the search's way of comparing rows.
template <class Rows>
void Evaluate(const Frame& f, Rows& rows, int o, Scratch& s, Place& p) {
  p = Place{};
  p.offset = o;
  OverlapOf(f, o, p.lo, p.hi);
  if (p.hi - p.lo + 1 < kSmallestOverlap) return;
  rows.BeginPlace();
  const uint32_t hashedBefore = rows.Hashed();
  const int n = p.hi - p.lo + 1;
  s.rows.assign(static_cast<size_t>(n), 0);
  // From the overlap's end up to the join, which is compared pixel for pixel (which row it is
  // must not hang on a hash). The rows under it are replaced by the append, but they are judged
  // like the rest: a blank strip agrees anyway, rows half painted or a box that changed are set
  // aside as something that changes by itself, while rows of other content (a place a period or
  // more away in a table whose rows are alike) tell against the place.
  int join = -1, g = p.hi;
  for (; g >= p.lo && join < 0; --g) {
    uint8_t row = FactsOf(rows, o, g);
    if ((row & kInk) && rows.Hashing()) row = RowFacts(rows.AgreeExactly(o, g), false);
    s.rows[g - p.lo] = row;
    if (row & kInk) join = g;
  }
  if (join < 0) return;
  if (g >= p.lo && rows.Hashing()) {
    rows.Fill(o, p.lo, g, s.rows.data());
  } else {
    // Compared one by one, and refused as soon as no row still to come could confirm it.
    ScoreBound bound(g - p.lo + 2, f.h);
    for (int k = join + 1; k <= p.hi; ++k) bound.Judged(s.rows[k - p.lo], k < f.topBand);
    for (; g >= p.lo; --g) {
      s.rows[g - p.lo] = FactsOf(rows, o, g);
      if (!(s.rows[g - p.lo] & kAgree) && !bound.Disagrees(g < f.topBand)) return;
    }
  }
  p.join = join;
  p.exact = rows.Hashed() == hashedBefore;
  if (!Confirms(s.rows.data(), n, std::max(0, f.topBand - p.lo), f.h, p.setAside, s.score)) return;
  p.qualifies = true;
  // Eight rows at a time: every place of an empty grid qualifies, with few rows that disagree.
  const uint8_t* facts = s.rows.data();
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t eight;
    std::memcpy(&eight, facts + k, sizeof eight);
    for (uint64_t unlike = ~eight & 0x0101010101010101ull; unlike != 0; unlike &= unlike - 1)
      p.unlike.push_back(p.lo + k + __builtin_ctzll(unlike) / 8);
  }
  for (; k < n; ++k)
    if ((facts[k] & kAgree) == 0) p.unlike.push_back(p.lo + k);
}

// How many of the grab's lowest rows with ink look for themselves in the image, when the
// content may have gone back up past the image's end, and of how many: rows the image shows
// often (a table's blank rows) are passed over.
constexpr int kScrolledBackRows = 8;
constexpr int kScrolledBackLooks = 4 * kScrolledBackRows;

// The search over one frame: key rows from the image's end up, those the screen showed at the
// last append first, and of each part the key rows that few grab rows show first: those many
// show (an empty grid's, a table's blank rows) propose places by the motion rather than by the
// pixels. The first key row whose proposals include a place that qualifies decides among them.
// A place that qualifies only with rows set aside decides nothing on its own: rows alike but for
// a few pixels (a ledger's rows but for their number) make such places a period or more away
// from the true one. When the true place is not among them, the content went back up past the
// key row; those places, whose overlap ends at the grab's end, are proposed by the grab's lowest
// rows with ink, looked for among the image rows above the key row, and the best of all wins.
template <class Rows>
Verdict SearchFrame(const Frame& f, Rows& rows, Judged& judged, Scratch& s) {
  std::vector<int> candidates;
  std::vector<Place> qualified;
  std::vector<size_t> hangsOn;  // the places the way the search went hangs on: the best ones
  Place p;
  const auto judge = [&](int o) {
    if (s.spent || !judged.Take(o)) return;
    int lo, hi;
    OverlapOf(f, o, lo, hi);
    if (hi - lo + 1 >= kSmallestOverlap && (s.rowsLeft -= hi - lo + 1) < 0) {
      s.spent = true;
      return;
    }
    Evaluate(f, rows, o, s, p);
    if (p.qualifies) qualified.push_back(std::move(p));
  };
  // Places are weighed on the rows of the place the motion expects.
  RowRange weighed;
  OverlapOf(f, f.motion.lastOffset + f.motion.lastMove, weighed.lo, weighed.hi);
  const auto best = [&] {
    const size_t king = Best(qualified, weighed, f.motion);
    hangsOn.push_back(king);
    return king;
  };
  // The band standing at the top hides the content under it: neither its copy at the image's
  // top nor its rows in the grab tell where the content lies.
  const int end = f.scrollY - 1 - f.band, shown = std::max(f.topBand, f.motion.lastOffset);
  for (int pass = 0; pass < 4 && !s.spent; ++pass) {
    const bool common = pass % 2 == 1;
    for (int y = pass < 2 ? end : std::min(end, shown - 1); y >= (pass < 2 ? shown : f.topBand) && !s.spent; --y) {
      if (rows.Uniform(y) || rows.Candidates(y, common, judged, candidates) != common) continue;
      for (const int r : candidates) judge(y - r);
      if (s.spent || qualified.empty()) continue;
      if (qualified[best()].setAside) {
        // Places where grab row g shows image row g + o, with y below the grab: o < y - lastGrabRow.
        for (int g = f.lastGrabRow, asked = 0, looks = 0;
             g >= f.topBand && asked < kScrolledBackRows && looks < kScrolledBackLooks; --g) {
          if (IsUniform(ViewRow(f.grab, g), f.middle)) continue;
          ++looks;
          if (rows.ImageRowsShowing(g, f.topBand, y - f.lastGrabRow + g - 1, candidates)) continue;
          ++asked;
          for (const int i : candidates) judge(i - g);
        }
        if (s.spent) break;
      }
      return rows.Accept(f, qualified, best(), hangsOn, s);
    }
  }
  return rows.Nothing(f, qualified, s);
}

// The whole search: above a band standing at the bottom, then from the image's end; all columns,
// then without the side bands that stand still. make(frame) gives the frame's Rows.
template <class MakeRows>
Verdict Search(Frame f, int band, MakeRows make, Scratch& s) {
  s.rowsLeft = int64_t{kPlaceRowsPerTick} * f.h;
  s.spent = false;
  for (int stage = 0; stage < 2; ++stage) {
    if (stage == 1) {
      const Span vote = StandingSides(f);
      if (vote == f.vote) break;
      f.vote = vote;
    }
    // A place refused above the band is not judged again from the image's end: what it adds
    // is the band's rows, which would match themselves.
    Judged judged(f);
    const int bands[2] = {band, 0};
    for (int i = 0; i < (band > 0 ? 2 : 1); ++i) {
      SetBand(f, bands[i]);
      auto rows = make(f);
      Verdict v = SearchFrame(f, rows, judged, s);
      v.vote = f.vote;
      if (v.found != Found::Nothing || s.spent) return v;
    }
  }
  return Verdict{};
}

}  // namespace stitching

#endif
