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
  // When given: per image row, its class (rows of one class are the same in all columns), and per
  // grab row, whether it is the same as the row below. A grab row agrees with a row of a class as
  // it did with another row of it, and as the grab row below it did when the two are the same:
  // the places a period apart on repeated lines, or a run of an empty grid's rows, read one pair.
  const int32_t* imageClass = nullptr;
  const uint8_t* grabLikeBelow = nullptr;
  std::vector<int32_t> toldClass{};  // per grab row, the class it was last told against, or -1
  std::vector<uint8_t> agreed{};
  bool Agree(int o, int g) {
    const int y = g + o;
    if (imageClass == nullptr) return RowsEqual(ViewRow(f.image, y), ViewRow(f.grab, g), f.vote);
    if (toldClass.empty()) {
      toldClass.assign(static_cast<size_t>(f.h), -1);
      agreed.assign(static_cast<size_t>(f.h), 0);
    }
    const size_t at = static_cast<size_t>(g);
    const int32_t c = imageClass[y];
    if (toldClass[at] != c) {
      const bool asBelow = g + 1 < f.h && grabLikeBelow[at] != 0 && toldClass[at + 1] == c;
      agreed[at] = asBelow ? agreed[at + 1] : RowsEqual(ViewRow(f.image, y), ViewRow(f.grab, g), f.vote);
      toldClass[at] = c;
    }
    return agreed[at] != 0;
  }
  bool AgreeExactly(int o, int g) { return Agree(o, g); }
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
