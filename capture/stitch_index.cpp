#include "capture/stitch_index.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "capture/stitch_literal.h"
#include "capture/stitch_rows.h"
#include "capture/stitch_score.h"
#include "capture/stitch_walk.h"

namespace stitching {

namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

size_t SlotOf(uint64_t hash, size_t mask) {
  return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> 40) & mask;
}

// The highest grab row of the key row's hash, or -1; grabNext leads to the lower ones.
int FirstOfHash(const StitchRows& rows, uint64_t keyHash) {
  const size_t mask = rows.slots.size() - 1;
  size_t s = SlotOf(keyHash, mask);
  int32_t g;
  while ((g = rows.slots[s]) >= 0 && rows.grabHash[static_cast<size_t>(g)] != keyHash) s = (s + 1) & mask;
  return g;
}

// The usual tick finds the image's end a scroll up in the grab: one of the image's last few rows
// with ink proposes the place. Past them the tick is not the usual one (content that changed at
// the image's end, no match, a flick) and the grab is indexed at once.
constexpr int kUsualKeyRows = 8;

// What the fast search keeps through one tick: its budget of literal comparisons, and the grab's
// tile hashes and index once made.
struct FastTick {
  StitchRows& rows;
  int64_t budget;
  int placesJudged = 0;
  int keyRows = 0;  // key rows that looked for their grab rows
  // Image rows hashed over the voting columns when they are not all the columns (voteHashed).
  std::vector<uint64_t> voteHash{};
  std::vector<uint8_t> voteKnown{};
  Span voteHashed{-1, -1};
  Span indexed{-1, -1};  // the columns the index is made for
};

// Rows compared literally while the budget lasts, then by their hashes. A hash can only make a
// pair agree that does not, so a place refused on hashes is refused literally too; the place a
// search settles on is compared again pixel for pixel unless it was all along.
struct FastRows {
  const Frame& f;
  FastTick& tick;
  uint32_t hashed = 0;

  uint32_t Hashed() const { return hashed; }
  bool Indexed() const { return tick.indexed == f.vote; }
  bool Uniform(int y) const { return tick.rows.uniform[static_cast<size_t>(y)] != 0; }

  // A row's hash over the voting columns, before the mask.
  uint64_t VoteHash(const uint32_t* row) const {
    return PairSum(row, f.vote.begin, f.vote.end, tick.rows.keys.data(), nullptr);
  }
  uint64_t ImageHash(int y) {
    StitchRows& rows = tick.rows;
    const size_t at = static_cast<size_t>(y);
    if (f.vote == Span{0, f.w}) return rows.hash[at] & rows.hashMask;
    // Only a search that sets a scroll bar or bands at the sides aside needs these: learnt then,
    // for the tick and those columns.
    if (!(tick.voteHashed == f.vote)) {
      tick.voteHashed = f.vote;
      tick.voteKnown.assign(static_cast<size_t>(f.scrollY), 0);
      tick.voteHash.resize(static_cast<size_t>(f.scrollY));
    }
    if (!tick.voteKnown[at]) {
      tick.voteHash[at] = VoteHash(ViewRow(f.image, y));
      tick.voteKnown[at] = 1;
    }
    return tick.voteHash[at] & rows.hashMask;
  }

  // Every grab row by its hash over the voting columns: the slot of a hash holds its highest
  // row, and grabNext leads down through the lower rows of the same hash.
  void Index() {
    StitchRows& rows = tick.rows;
    const int h = f.h;
    rows.grabHash.resize(static_cast<size_t>(h));
    // Bottom-up surfaces: from the last row up is from low addresses to high, as prefetching likes.
    for (int g = h - 1; g >= 0; --g) rows.grabHash[static_cast<size_t>(g)] = VoteHash(ViewRow(f.grab, g)) & rows.hashMask;
    size_t size = 16;
    while (size < 2 * static_cast<size_t>(h)) size *= 2;
    rows.grabNext.resize(static_cast<size_t>(h));
    rows.slots.assign(size, -1);
    for (int g = 0; g < h; ++g) {
      const uint64_t hash = rows.grabHash[static_cast<size_t>(g)];
      size_t s = SlotOf(hash, size - 1);
      while (rows.slots[s] >= 0 && rows.grabHash[static_cast<size_t>(rows.slots[s])] != hash) s = (s + 1) & (size - 1);
      rows.grabNext[static_cast<size_t>(g)] = rows.slots[s];
      rows.slots[s] = g;
    }
    tick.indexed = f.vote;
    ++rows.indexBuilds;
  }

  // The grab rows equal to key row y, from the lowest compared up; literally while the budget
  // lasts (false when it ran out first), then through the index, each confirmed pixel for pixel.
  bool LiteralCandidates(int y, const Judged& judged, std::vector<int>& out) {
    const uint32_t* key = ViewRow(f.image, y);
    const KeyColumns k = KeyColumnsOf(key, f.vote);
    const int width = f.vote.end - f.vote.begin;
    tick.budget -= (k.first - f.vote.begin) + (f.vote.end - 1 - k.last);
    for (int r = f.lastGrabRow; r >= f.topBand; --r) {
      if (tick.budget <= 0) return false;
      const uint32_t* row = ViewRow(f.grab, r);
      tick.budget -= kRowVisitCharge;
      if (!MaybeEqual(row, key, k) || judged.Seen(y - r)) continue;  // the usual end, spared a whole comparison
      tick.budget -= width;
      if (RowsEqual(row, key, f.vote)) out.push_back(r);
    }
    return true;
  }
  void Candidates(int y, const Judged& judged, std::vector<int>& out) {
    out.clear();
    if (!Indexed()) {
      if (tick.indexed.begin < 0 && tick.keyRows++ < kUsualKeyRows && LiteralCandidates(y, judged, out)) return;
      out.clear();
      Index();
    }
    const uint32_t* key = ViewRow(f.image, y);
    for (int r = FirstOfHash(tick.rows, ImageHash(y)); r >= 0; r = tick.rows.grabNext[static_cast<size_t>(r)])
      if (r <= f.lastGrabRow && r >= f.topBand && !judged.Seen(y - r) && RowsEqual(ViewRow(f.grab, r), key, f.vote))
        out.push_back(r);
  }
  // By their hashes, each confirmed pixel for pixel.
  void ImageRowsShowing(int g, int from, int to, std::vector<int>& out) {
    out.clear();
    const uint32_t* row = ViewRow(f.grab, g);
    const uint64_t hash = VoteHash(row) & tick.rows.hashMask;
    for (int y = to; y >= from; --y)
      if (ImageHash(y) == hash && RowsEqual(ViewRow(f.image, y), row, f.vote)) out.push_back(y);
  }
  bool AgreeExactly(int o, int g) {
    tick.budget -= kRowCompareCharge + (f.vote.end - f.vote.begin);
    return RowsEqual(ViewRow(f.image, g + o), ViewRow(f.grab, g), f.vote);
  }
  // A place is judged one way all through: literally while the budget lasts when it begins,
  // and the tick's first place always, which spares the usual tick the index and a second look.
  void BeginPlace() {
    if (!Indexed() && (tick.indexed.begin >= 0 || (tick.budget <= 0 && tick.placesJudged > 0))) Index();
    ++tick.placesJudged;
  }
  bool Agree(int o, int g) {
    if (!Indexed()) return AgreeExactly(o, g);
    ++hashed;
    return ImageHash(g + o) == tick.rows.grabHash[static_cast<size_t>(g)];
  }
  bool Hashing() const { return Indexed(); }
  void Fill(int o, int lo, int last, uint8_t* out) {
    const StitchRows& rows = tick.rows;
    const uint64_t* grab = rows.grabHash.data();
    const uint8_t* uniform = rows.uniform.data();
    if (f.vote == Span{0, f.w}) {
      const uint64_t* image = rows.hash.data();
      const uint64_t mask = rows.hashMask;
      for (int g = lo; g <= last; ++g) out[g - lo] = RowFacts((image[g + o] & mask) == grab[g], uniform[g + o] != 0);
    } else {
      for (int g = lo; g <= last; ++g) out[g - lo] = RowFacts(ImageHash(g + o) == grab[g], uniform[g + o] != 0);
    }
    hashed += static_cast<uint32_t>(last - lo + 1);
  }
  // A winner that beat every other place on hashes and, compared again pixel for pixel, is the
  // same place: the literal search's choice too, as every other place can only disagree more.
  Verdict Accept(const Frame& frame, Place&& king, bool beatsAll, Scratch& s) const {
    if (!beatsAll) return Verdict{Found::Unsure, Place{}};
    if (!king.exact) {
      LiteralRows literal{frame};
      Place again;
      Evaluate(frame, literal, king.offset, s, again);
      if (!(again == king)) return Verdict{Found::Unsure, Place{}};
    }
    return Verdict{Found::Place, std::move(king)};
  }
};

}  // namespace

void Describe(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int blackFrom) {
  rows.pixels = image.pixels;
  rows.width = image.width;
  rows.height = image.height;
  rows.rangeWidth = rangeWidth;
  rows.rangeHeight = rangeHeight;
  rows.keys.resize(static_cast<size_t>(std::max(rangeWidth, 0)) + 1);
  uint64_t state = rows.seed;
  for (uint32_t& key : rows.keys) key = static_cast<uint32_t>(SplitMix(state) >> 32);
  // Nothing of them is read before it is learnt.
  rows.hash.resize(static_cast<size_t>(image.height));
  rows.uniform.resize(static_cast<size_t>(image.height));
  rows.knownRows = 0;
  rows.blackFrom = std::max(0, std::min(blackFrom, image.height));
  rows.lastMove = 0;
}

void Adopt(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight) {
  if (rows.pixels != image.pixels || rows.width != image.width || rows.height != image.height ||
      rows.rangeWidth != rangeWidth || rows.rangeHeight != rangeHeight)
    Describe(rows, image, rangeWidth, rangeHeight, image.height);
}

void LearnRow(StitchRows& rows, const PixelView& image, int y, const uint32_t* from) {
  uint32_t* row = ViewRow(image, y);
  const size_t at = static_cast<size_t>(y);
  rows.hash[at] = PairSum(from != nullptr ? from : row, 0, rows.rangeWidth, rows.keys.data(), from != nullptr ? row : nullptr);
  rows.uniform[at] = IsUniform(row, MiddleOf(rows.rangeWidth));
}

void LearnRows(StitchRows& rows, const PixelView& image, int upTo) {
  upTo = std::min(upTo, rows.height);
  for (int y = upTo - 1; y >= rows.knownRows; --y) LearnRow(rows, image, y, nullptr);  // in memory order
  rows.knownRows = std::max(rows.knownRows, upTo);
}

Verdict SearchIndexed(const Frame& f, int band, StitchRows& rows, int64_t literalSamples) {
  // The usual tick decides after a scan of the grab for its key row and one literal comparison
  // of the overlap. Past about that much, the grab's rows are hashed and indexed instead.
  FastTick tick{rows, literalSamples >= 0 ? literalSamples : int64_t{f.h} * (f.w + 2 * kRowCompareCharge)};
  Scratch s;
  return Search(f, band, [&tick](const Frame& frame) { return FastRows{frame, tick}; }, s);
}

}  // namespace stitching
