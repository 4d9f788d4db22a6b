#include "capture/stitch_index.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "capture/stitch_literal.h"
#include "capture/stitch_rows.h"
#include "capture/stitch_rows_wide.h"
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

constexpr int kProbeStride = 4;

// Whether two rows of w columns are the same, told first at a few blocks spread over the width:
// rows that differ mostly do so there, where a page's margins do not hide it.
bool LikeBelow(const uint32_t* row, const uint32_t* below, int w) {
  constexpr int kBlock = 8, kBlocks = 4;
  for (int k = 1; k <= kBlocks && w >= (kBlocks + 1) * kBlock; ++k) {
    const int x = w * k / (kBlocks + 1);
    if (!RowsEqual(row, below, Span{x, x + kBlock})) return false;
  }
  return RowsEqual(row, below, Span{0, w});
}

// The usual tick finds the image's end a scroll up in the grab: one of the image's last few rows
// with ink that few grab rows show proposes the place. Past them the tick is not the usual one
// (content that changed at the image's end, no match, a flick) and the grab is indexed at once.
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
  // The grab rows of each key row's hash (rising) and which of them are equal to it, learnt as
  // they are asked for: key rows alike (a table's repeated lines, an empty grid's) share them.
  struct Known {
    int row = -1;
    std::vector<int> rows;
    std::vector<int8_t> equal;  // -1 until compared
    int equalRows = 0;
    size_t told = 0;  // rows[0 .. told - 1] compared in turn
  };
  std::unordered_map<uint64_t, Known> known{};
  Known none{};
  std::vector<int> equal{};
  std::vector<int> commonClasses{};  // of key rows looked for literally that many grab rows show
  bool several = false;  // the key row looked for literally proposes more than one place

  uint32_t Hashed() const { return hashed; }
  bool Indexed() const { return tick.indexed == f.vote; }
  bool Uniform(int y) const { return tick.rows.uniform[static_cast<size_t>(y)] != 0; }

  // A row's hash over the voting columns, before the mask.
  uint64_t VoteHash(const uint32_t* row) const {
    return f.vote == Span{0, f.w} ? PairSum(row, 0, f.w, tick.rows.keys.data(), nullptr)
                                  : SpanHash(row, f.vote, tick.rows.keys.data());
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
      tick.voteHash[at] = SpanHashFrom(rows.hash[at], ViewRow(f.image, y), f.w, f.vote, rows.keys.data());
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
    rows.grabLikeBelow.assign(static_cast<size_t>(h), 0);
    // Bottom-up surfaces: from the last row up is from low addresses to high, as prefetching likes.
    // A row the same as the one below (an empty grid's, the blank between two lines) shares its
    // hash. Every kProbeStride-th row is asked, and each next one while the run lasts: asking
    // every row would read twice each row alike but for a pixel.
    bool run = false;
    for (int g = h - 1; g >= 0; --g) {
      const uint32_t *row = ViewRow(f.grab, g), *below = g + 1 < h ? ViewRow(f.grab, g + 1) : nullptr;
      const size_t at = static_cast<size_t>(g);
      run = below != nullptr && (run || g % kProbeStride == 0) && LikeBelow(row, below, f.w);
      rows.grabLikeBelow[at] = run;
      rows.grabHash[at] = run ? rows.grabHash[at + 1] : VoteHash(row) & rows.hashMask;
    }
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

  // Key rows looked for literally: -1 when the budget ran out first; 0, their grab rows into
  // equal, when few grab rows show them; 1 when many do (found once for rows of a class).
  int LiteralCandidates(int y) {
    const int same = tick.rows.sameAs[static_cast<size_t>(y)];
    if (std::find(commonClasses.begin(), commonClasses.end(), same) != commonClasses.end()) return 1;
    const uint32_t* key = ViewRow(f.image, y);
    const KeyColumns k = KeyColumnsOf(key, f.vote);
    const int width = f.vote.end - f.vote.begin;
    tick.budget -= (k.first - f.vote.begin) + (f.vote.end - 1 - k.last);
    equal.clear();
    for (int r = f.lastGrabRow; r >= f.topBand; --r) {
      tick.budget -= kRowVisitCharge;
      if (MaybeEqual(ViewRow(f.grab, r), key, k)) equal.push_back(r);  // the usual end, spared a whole comparison
      if (tick.budget <= 0) return -1;
    }
    size_t kept = 0;
    for (size_t i = 0; i < equal.size() && kept <= static_cast<size_t>(kMostAlikeRows); ++i) {
      tick.budget -= width;
      if (RowsEqual(ViewRow(f.grab, equal[i]), key, f.vote)) equal[kept++] = equal[i];
      if (tick.budget <= 0) return -1;
    }
    if (kept > static_cast<size_t>(kMostAlikeRows)) {
      commonClasses.push_back(same);
      return 1;
    }
    equal.resize(kept);
    std::reverse(equal.begin(), equal.end());
    return 0;
  }
  // What the index knows of key row y, made when a key row of its hash is first looked up.
  Known& KnownOf(int y) {
    const uint64_t hash = ImageHash(y);
    // Most key rows are shown by no grab row at all: nothing to learn of them.
    int r = FirstOfHash(tick.rows, hash);
    while (r >= 0 && (r > f.lastGrabRow || r < f.topBand)) r = tick.rows.grabNext[static_cast<size_t>(r)];
    if (r < 0) return none;
    Known& k = known[hash];
    const std::vector<int32_t>& same = tick.rows.sameAs;
    if (k.row < 0 || (same[static_cast<size_t>(k.row)] != same[static_cast<size_t>(y)] &&
                      !RowsEqual(ViewRow(f.image, k.row), ViewRow(f.image, y), f.vote))) {
      k.row = y;
      k.rows.clear();
      for (r = FirstOfHash(tick.rows, hash); r >= 0; r = tick.rows.grabNext[static_cast<size_t>(r)])
        if (r <= f.lastGrabRow && r >= f.topBand) k.rows.push_back(r);
      std::reverse(k.rows.begin(), k.rows.end());
      k.equal.assign(k.rows.size(), -1);
      k.equalRows = 0;
      k.told = 0;
    }
    return k;
  }
  // Whether grab row k.rows[i] is equal to the key rows of k, compared once.
  bool Equal(Known& k, size_t i) {
    if (k.equal[i] < 0) {
      k.equal[i] = RowsEqual(ViewRow(f.grab, k.rows[i]), ViewRow(f.image, k.row), f.vote);
      k.equalRows += k.equal[i];
    }
    return k.equal[i] > 0;
  }
  // Through the index, each confirmed pixel for pixel: whether there are more than
  // kMostAlikeRows, and when asked, into equal, all of them or the kMostAlikeRows + 1 nearest the
  // row expected, which Proposals tells apart as it would all.
  bool IndexedCandidates(int y, bool common) {
    Known& k = KnownOf(y);
    const size_t most = static_cast<size_t>(kMostAlikeRows);
    // Key rows alike ask the same class again and again: the rows compared before are not walked
    // again.
    for (; k.told < k.rows.size() && static_cast<size_t>(k.equalRows) <= most; ++k.told) Equal(k, k.told);
    const bool isCommon = static_cast<size_t>(k.equalRows) > most;
    equal.clear();
    if (isCommon != common) return isCommon;
    if (!isCommon) {
      for (size_t i = 0; i < k.rows.size(); ++i)
        if (Equal(k, i)) equal.push_back(k.rows[i]);
      return false;
    }
    Outwards(k.rows, ExpectedRow(f, y), [&](size_t i) {
      if (Equal(k, i)) equal.push_back(k.rows[i]);
      return equal.size() <= most;
    });
    std::sort(equal.begin(), equal.end());
    return true;
  }
  bool Candidates(int y, bool common, const Judged& judged, std::vector<int>& out) {
    out.clear();
    if (!Indexed()) {
      const int kind = tick.indexed.begin < 0 && tick.keyRows < kUsualKeyRows ? LiteralCandidates(y) : -1;
      if (kind == 0) {
        ++tick.keyRows;
        const bool isCommon = common ? false : Proposals(f, y, equal, judged, out);
        several = out.size() > 1;
        return isCommon;
      }
      if (kind == 1 && !common) return true;  // left for after the others, when the index is made
      Index();
    }
    return IndexedCandidates(y, common) == common ? Proposals(f, y, equal, judged, out) : !common;
  }

  // By their hashes, each confirmed pixel for pixel.
  bool ImageRowsShowing(int g, int from, int to, std::vector<int>& out) {
    out.clear();
    const uint32_t* row = ViewRow(f.grab, g);
    const uint64_t hash = VoteHash(row) & tick.rows.hashMask;
    // The record's own hashes, where they serve, are read eight at a time: over a tall image this
    // walk is most of a tick that sets rows aside.
    const uint64_t* whole = f.vote == Span{0, f.w} ? tick.rows.hash.data() : nullptr;
    const uint64_t mask = tick.rows.hashMask;
    for (int y = to; y >= from; --y) {
      if (whole != nullptr && WideRows()) {
        y = HashesUnlikeWide(whole, mask, hash, from, y);
        if (y < from) break;
      }
      const uint64_t at = whole != nullptr ? whole[static_cast<size_t>(y)] & mask : ImageHash(y);
      if (at != hash || !RowsEqual(ViewRow(f.image, y), row, f.vote)) continue;
      if (out.size() == static_cast<size_t>(kMostAlikeRows)) return out.clear(), true;
      out.push_back(y);
    }
    return false;
  }
  bool AgreeExactly(int o, int g) {
    tick.budget -= kRowCompareCharge + (f.vote.end - f.vote.begin);
    return RowsEqual(ViewRow(f.image, g + o), ViewRow(f.grab, g), f.vote);
  }
  // A place is judged one way all through: literally while the budget lasts when it begins,
  // and the tick's first place always when its key row proposes no other, which spares the usual
  // tick the index and a second look. Of several, the one that wins is looked at again anyway.
  void BeginPlace() {
    if (!Indexed() && (tick.indexed.begin >= 0 || several || (tick.budget <= 0 && tick.placesJudged > 0))) Index();
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
      const int done = WideRows() ? HashedFactsWide(image + lo + o, grab + lo, uniform + lo + o, mask, last - lo + 1, out) : 0;
      for (int g = lo + done; g <= last; ++g) out[g - lo] = RowFacts((image[g + o] & mask) == grab[g], uniform[g + o] != 0);
    } else {
      for (int g = lo; g <= last; ++g) out[g - lo] = RowFacts(ImageHash(g + o) == grab[g], uniform[g + o] != 0);
    }
    hashed += static_cast<uint32_t>(last - lo + 1);
  }
  // The places the search's way hangs on, compared again pixel for pixel where they were not,
  // are the same places.
  bool Vouched(const Frame& frame, std::vector<Place>& places, std::vector<size_t>& which, Scratch& s) const {
    std::sort(which.begin(), which.end());
    which.erase(std::unique(which.begin(), which.end()), which.end());
    // The usual tick's winner was compared pixel for pixel already: nothing to make for it.
    if (std::all_of(which.begin(), which.end(), [&](size_t i) { return places[i].exact; })) return true;
    // What is vouched for is the hashes: which rows are uniform the record read pixel for pixel
    // when it learnt them, and reading it again would cost the rows' middles once more.
    LiteralRows literal{frame};
    for (size_t y = 0; y < literal.uniform.size(); ++y) literal.uniform[y] = Uniform(static_cast<int>(y));
    // And which rows are the same: the image's by their classes, read pixel for pixel when they
    // were learnt; the grab's as the row below, when it was indexed.
    if (tick.indexed.begin >= 0) {
      literal.imageClass = tick.rows.sameAs.data();
      literal.grabLikeBelow = tick.rows.grabLikeBelow.data();
    }
    Place again;
    for (const size_t i : which) {
      if (places[i].exact) continue;
      Evaluate(frame, literal, places[i].offset, s, again);
      if (!(again == places[i])) return false;
    }
    return true;
  }
  // Then the literal search chooses the same: every other place can only disagree more, or no
  // longer qualify.
  Verdict Accept(const Frame& frame, std::vector<Place>& places, size_t king, std::vector<size_t>& hangsOn,
                 Scratch& s) const {
    if (!Vouched(frame, places, hangsOn, s)) return Verdict{Found::Unsure, Place{}};
    return Verdict{Found::Place, std::move(places[king])};
  }
  // Places that qualified on hashes may have sent the search where the literal one did not go:
  // it went the same way when each is the same compared pixel for pixel.
  Verdict Nothing(const Frame& frame, std::vector<Place>& places, Scratch& s) const {
    std::vector<size_t> all(places.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    return Vouched(frame, places, all, s) ? Verdict{} : Verdict{Found::Unsure, Place{}};
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
  rows.sameAs.resize(static_cast<size_t>(image.height));
  rows.firstOfHash.clear();
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
  rows.uniform[at] = !IsUniform(row, MiddleOf(rows.rangeWidth))     ? 0
                     : IsUniform(row, Span{0, rows.rangeWidth}) ? kWholeRowAlike
                                                                : 1;
}

void LearnRows(StitchRows& rows, const PixelView& image, int upTo) {
  upTo = std::min(upTo, rows.height);
  const int known = rows.knownRows;
  for (int y = upTo - 1; y >= known; --y) LearnRow(rows, image, y, nullptr);  // in memory order
  rows.knownRows = std::max(known, upTo);
  LearnClasses(rows, image, known, upTo);
}

void LearnClasses(StitchRows& rows, const PixelView& image, int from, int to) {
  for (int y = from; y < to; ++y) {
    // A uniform row is never a key row: it keeps a class of its own, unread.
    rows.sameAs[static_cast<size_t>(y)] = y;
    if (rows.uniform[static_cast<size_t>(y)]) continue;
    const uint64_t hash = rows.hash[static_cast<size_t>(y)];
    int32_t& first = rows.firstOfHash[hash];
    // The row it names may have been written since, or hash alike by chance.
    const bool same = first < y && rows.hash[static_cast<size_t>(first)] == hash &&
                      RowsEqual(ViewRow(image, first), ViewRow(image, y), Span{0, rows.rangeWidth});
    if (!same) first = y;
    if (same) rows.sameAs[static_cast<size_t>(y)] = rows.sameAs[static_cast<size_t>(first)];
  }
}

Verdict SearchIndexed(const Frame& f, int band, StitchRows& rows, int64_t literalSamples) {
  // The usual tick decides after a scan of the grab for its key row and one literal comparison
  // of the overlap. Past about that much, the grab's rows are hashed and indexed instead.
  FastTick tick{rows, literalSamples >= 0 ? literalSamples : int64_t{f.h} * (f.w + 2 * kRowCompareCharge)};
  Scratch s;
  return Search(f, band, [&tick](const Frame& frame) { return FastRows{frame, tick}; }, s);
}

}  // namespace stitching
