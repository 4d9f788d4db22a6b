// Rows compared pixel for pixel: the reference, and how the fast search confirms its choice.
#ifndef TALLSNAP_CAPTURE_STITCH_LITERAL_H
#define TALLSNAP_CAPTURE_STITCH_LITERAL_H

#include <cstdint>
#include <utility>
#include <vector>

#include "capture/stitch_rows.h"
#include "capture/stitch_walk.h"

namespace stitching {

struct LiteralRows {
  const Frame& f;
  std::vector<int8_t> uniform = std::vector<int8_t>(static_cast<size_t>(f.scrollY), -1);
  uint32_t Hashed() const { return 0; }
  bool Uniform(int y) {
    int8_t& u = uniform[static_cast<size_t>(y)];
    if (u < 0) u = IsUniform(ViewRow(f.image, y), f.middle);
    return u != 0;
  }
  bool Candidates(int y, bool common, const Judged& judged, std::vector<int>& out) const {
    out.clear();
    const uint32_t* key = ViewRow(f.image, y);
    const KeyColumns k = KeyColumnsOf(key, f.vote);
    std::vector<int> equal;
    for (int r = f.topBand; r <= f.lastGrabRow; ++r) {
      const uint32_t* row = ViewRow(f.grab, r);
      if (MaybeEqual(row, key, k) && RowsEqual(row, key, f.vote)) equal.push_back(r);
    }
    return (equal.size() > static_cast<size_t>(kMostAlikeRows)) == common ? Proposals(f, y, equal, judged, out)
                                                                             : !common;
  }
  bool ImageRowsShowing(int g, int from, int to, std::vector<int>& out) const {
    out.clear();
    const uint32_t* row = ViewRow(f.grab, g);
    const KeyColumns k = KeyColumnsOf(row, f.vote);
    for (int y = to; y >= from; --y) {
      const uint32_t* image = ViewRow(f.image, y);
      if (!MaybeEqual(image, row, k) || !RowsEqual(image, row, f.vote)) continue;
      if (out.size() == static_cast<size_t>(kMostAlikeRows)) return out.clear(), true;
      out.push_back(y);
    }
    return false;
  }
  bool Agree(int o, int g) const { return RowsEqual(ViewRow(f.image, g + o), ViewRow(f.grab, g), f.vote); }
  bool AgreeExactly(int o, int g) const { return Agree(o, g); }
  void BeginPlace() const {}
  bool Hashing() const { return false; }
  void Fill(int, int, int, uint8_t*) const {}
  Verdict Nothing(const Frame&, std::vector<Place>&, Scratch&) const { return Verdict{}; }
  Verdict Accept(const Frame&, std::vector<Place>& places, size_t king, std::vector<size_t>&, Scratch&) const {
    return Verdict{Found::Place, std::move(places[king])};
  }
};

}  // namespace stitching

#endif
