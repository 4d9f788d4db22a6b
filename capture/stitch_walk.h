// The search for the image's end in the grab: key rows propose places, places are judged and
// the best of them wins. How two rows are compared is left to a Rows type, made afresh for each
// frame (it may keep a reference to it), that promises the following.
//
//   uint32_t Hashed(): how many row pairs it has compared by their hashes so far. A place judged
//     while it did not grow was compared pixel for pixel throughout.
//   bool Uniform(int y): image row y is alike in the frame's middle columns, told exactly.
//   void Candidates(int y, const Judged&, std::vector<int>& out): out becomes the grab rows
//     lastGrabRow up to topBand, the lowest first, equal to image row y pixel for pixel in the
//     voting columns, but for those whose place was judged already.
//   void ImageRowsShowing(int g, int from, int to, std::vector<int>& out): out becomes the image
//     rows `to` up to `from`, the lowest first, equal to grab row g pixel for pixel in the voting
//     columns.
//   void BeginPlace(): a place is about to be judged. Whether Agree compares hashes (Hashing) is
//     settled here and holds until the next place.
//   bool Agree(int o, int g): image row g + o and grab row g agree in the voting columns. Only a
//     hash may be wrong, and only by making a pair agree that does not.
//   bool AgreeExactly(int o, int g): the same, told pixel for pixel.
//   bool Hashing(): Agree compares hashes for the place being judged.
//   void Fill(int o, int lo, int last, uint8_t* out): only while Hashing. out[0 ..] become the
//     RowFacts of rows lo .. last at offset o as Agree tells them, and Hashed counts them.
//   Verdict Accept(const Frame&, Place&& king, bool beatsAll, Scratch&): what the search finds
//     when king is the best of a key row's places (beatsAll: it beats each of the others, not
//     only those it was weighed against): the place the literal search finds, or Unsure when
//     that cannot be vouched for.
#ifndef TALLSNAP_CAPTURE_STITCH_WALK_H
#define TALLSNAP_CAPTURE_STITCH_WALK_H

#include <algorithm>
#include <cstdint>
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
  int w, h, scrollY;
  int band;         // rows standing at the image's end, set aside
  int lastGrabRow;  // the lowest grab row compared
  Motion motion;    // where the last append left the image's end, and the move then
  int topBand;      // grab rows at the top that stand where the first grab showed them
  Span vote;
  Span middle;
};

inline Frame FrameFor(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int topBand,
                      Span content, int lastMove) {
  return Frame{image, grab, w, h, scrollY, 0, h - 1, Motion{LastOffsetOf(scrollY, h), lastMove}, topBand, content,
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

struct Scratch {
  std::vector<uint8_t> rows;  // a place's RowFacts while it is judged
  ScoreScratch score;
};

enum class Found { Nothing, Place, Unsure };
struct Verdict {
  Found found = Found::Nothing;
  Place place;
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
  p.lo = std::max(0, -o);
  p.hi = std::min(f.lastGrabRow, f.scrollY - 1 - f.band - o);
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
  p.disagreeing.assign(static_cast<size_t>(n) + 1, 0);
  for (int k = 0; k < n; ++k) p.disagreeing[k + 1] = p.disagreeing[k] + ((s.rows[k] & kAgree) == 0);
}

// How many of the grab's lowest rows with ink look for themselves in the image, when the
// content may have gone back up past the image's end.
constexpr int kScrolledBackRows = 8;

// The search over one frame: key rows from the image's end up; the first whose proposals
// include a place that qualifies decides among them. A place that qualifies only with rows set
// aside decides nothing on its own: rows alike but for a few pixels (a ledger's rows but for
// their number) make such places a period or more away from the true one. The first key row
// proposes every place the grab shows it in, so the true place is missing only when the content
// went back up past it; those places, whose overlap ends at the grab's end, are proposed by the
// grab's lowest rows with ink, looked for among the image rows above the key row, and the best
// of all wins.
template <class Rows>
Verdict SearchFrame(const Frame& f, Rows& rows, Judged& judged, Scratch& s) {
  std::vector<int> candidates;
  std::vector<Place> qualified;
  Place p;
  const auto judge = [&](int o) {
    if (!judged.Take(o)) return;
    Evaluate(f, rows, o, s, p);
    if (p.qualifies) qualified.push_back(std::move(p));
  };
  // The band standing at the top hides the content under it: neither its copy at the image's
  // top nor its rows in the grab tell where the content lies.
  for (int y = f.scrollY - 1 - f.band; y >= f.topBand; --y) {
    if (rows.Uniform(y)) continue;
    rows.Candidates(y, judged, candidates);
    for (const int r : candidates) judge(y - r);
    if (qualified.empty()) continue;
    size_t king = Best(qualified, f.motion);
    if (qualified[king].setAside) {
      // Places where grab row g shows image row g + o, with y below the grab: o < y - lastGrabRow.
      for (int g = f.lastGrabRow, asked = 0; g >= f.topBand && asked < kScrolledBackRows; --g) {
        if (IsUniform(ViewRow(f.grab, g), f.middle)) continue;
        ++asked;
        rows.ImageRowsShowing(g, f.topBand, y - f.lastGrabRow + g - 1, candidates);
        for (const int i : candidates) judge(i - g);
      }
      king = Best(qualified, f.motion);
    }
    bool beatsAll = true;
    for (size_t i = 0; i < qualified.size() && beatsAll; ++i)
      beatsAll = i == king || Beats(qualified[king], qualified[i], f.motion);
    return rows.Accept(f, std::move(qualified[king]), beatsAll, s);
  }
  return Verdict{};
}

// The whole search: above a band standing at the bottom, then from the image's end; all columns,
// then without the side bands that stand still. make(frame) gives the frame's Rows.
template <class MakeRows>
Verdict Search(Frame f, int band, MakeRows make, Scratch& s) {
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
      if (v.found != Found::Nothing) return v;
    }
  }
  return Verdict{};
}

}  // namespace stitching

#endif
