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
  void Candidates(int y, const Judged& judged, std::vector<int>& out) const {
    out.clear();
    const uint32_t* key = ViewRow(f.image, y);
    const KeyColumns k = KeyColumnsOf(key, f.vote);
    for (int r = f.lastGrabRow; r >= f.topBand; --r) {
      const uint32_t* row = ViewRow(f.grab, r);
      if (MaybeEqual(row, key, k) && !judged.Seen(y - r) && RowsEqual(row, key, f.vote)) out.push_back(r);
    }
  }
  void ImageRowsShowing(int g, int from, int to, std::vector<int>& out) const {
    out.clear();
    const uint32_t* row = ViewRow(f.grab, g);
    const KeyColumns k = KeyColumnsOf(row, f.vote);
    for (int y = to; y >= from; --y) {
      const uint32_t* image = ViewRow(f.image, y);
      if (MaybeEqual(image, row, k) && RowsEqual(image, row, f.vote)) out.push_back(y);
    }
  }
  bool Agree(int o, int g) const { return RowsEqual(ViewRow(f.image, g + o), ViewRow(f.grab, g), f.vote); }
  bool AgreeExactly(int o, int g) const { return Agree(o, g); }
  void BeginPlace() const {}
  bool Hashing() const { return false; }
  void Fill(int, int, int, uint8_t*) const {}
  Verdict Accept(const Frame&, Place&& king, bool, Scratch&) const { return Verdict{Found::Place, std::move(king)}; }
};

}  // namespace stitching

#endif
