#include "capture/stitch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

StitchColumns StitchColumnsFor(int width) {
  StitchColumns c{};
  c.quarter = static_cast<int>(static_cast<float>(width / 4.0));
  c.step = c.quarter > 0 ? static_cast<int>(static_cast<float>(static_cast<double>(width) / c.quarter)) : 1;
  if (c.step < 1) c.step = 1;
  c.firstMiddle = static_cast<int>(static_cast<float>(width / 4.0 + 1));
  c.scanBound = static_cast<float>(3.0 * width / 4.0 - 1);
  return c;
}

namespace {

#if defined(__SSE2__)
__m128i Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
bool AllOnes(__m128i v) { return _mm_movemask_epi8(v) == 0xFFFF; }
#endif

// Columns begin .. end - 1.
struct Span {
  int begin, end;
  bool operator==(const Span& o) const { return begin == o.begin && end == o.end; }
};

// The middle half of the row: a row alike there is uniform. It makes no key row (it would
// match almost anywhere), gives no evidence for a place, and never ends a tick as unchanged (a
// blank strip under the text is blank at every scroll position).
Span MiddleOf(int w) { return Span{w / 4, 3 * w / 4}; }

bool IsUniform(const uint32_t* row, Span m) {
  if (m.end - m.begin < 2) return true;
  const uint32_t reference = row[m.begin];
  int c = m.begin + 1;
#if defined(__SSE2__)
  const __m128i ref = _mm_set1_epi32(static_cast<int>(reference));
  for (; c + 4 <= m.end; c += 4)
    if (!AllOnes(_mm_cmpeq_epi32(Load(row + c), ref))) return false;
#endif
  for (; c < m.end; ++c)
    if (row[c] != reference) return false;
  return true;
}

// The columns of the span agree.
bool RowsEqual(const uint32_t* a, const uint32_t* b, Span s) {
  int c = s.begin;
#if defined(__SSE2__)
  for (; c + 16 <= s.end; c += 16) {
    const __m128i e0 = _mm_and_si128(_mm_cmpeq_epi32(Load(a + c), Load(b + c)),
                                     _mm_cmpeq_epi32(Load(a + c + 4), Load(b + c + 4)));
    const __m128i e1 = _mm_and_si128(_mm_cmpeq_epi32(Load(a + c + 8), Load(b + c + 8)),
                                     _mm_cmpeq_epi32(Load(a + c + 12), Load(b + c + 12)));
    if (!AllOnes(_mm_and_si128(e0, e1))) return false;
  }
  for (; c + 4 <= s.end; c += 4)
    if (!AllOnes(_mm_cmpeq_epi32(Load(a + c), Load(b + c)))) return false;
#endif
  for (; c < s.end; ++c)
    if (a[c] != b[c]) return false;
  return true;
}

// The first column of the key row's span unlike its first pixel, past the even margin of a
// page, and the last one unlike its last pixel: where a comparison with another row most likely
// fails at once. The span's first and last for an even row.
struct KeyColumns {
  int first, last;
};
KeyColumns KeyColumnsOf(const uint32_t* key, Span s) {
  int c = s.begin + 1;
  while (c < s.end && key[c] == key[s.begin]) ++c;
  int d = s.end - 2;
  while (d >= s.begin && key[d] == key[s.end - 1]) --d;
  return KeyColumns{c < s.end ? c : s.begin, d >= s.begin ? d : s.end - 1};
}
bool MaybeEqual(const uint32_t* row, const uint32_t* key, KeyColumns k) {
  return row[k.first] == key[k.first] && row[k.last] == key[k.last];
}


// The columns of image row y that lie within the image's read bound: those past it are not
// compared.
int ColumnsInBound(const PixelView& image, int y, int w, int32_t imageBytes) {
  const int64_t rowOffset = 4 * (static_cast<int64_t>(image.width) * (image.height - 1 - y));
  const int64_t inBound = imageBytes < rowOffset ? 0 : (int64_t{imageBytes} - rowOffset) / 4 + 1;
  return static_cast<int>(std::min<int64_t>(w, inBound));
}

// The pairs, counted up from the image's last row and the grab's row endRow to the grab's row
// `top`, that are equal before the first that is not; all of them when every pair is.
int RowsEndingAlike(const PixelView& image, const PixelView& grab, int w, int scrollY, int32_t imageBytes, int endRow,
                    int top) {
  const int pairs = std::min(scrollY, endRow + 1 - top);
  int k = 0;
  while (k < pairs && RowsEqual(ViewRow(image, scrollY - 1 - k), ViewRow(grab, endRow - k),
                                Span{0, ColumnsInBound(image, scrollY - 1 - k, w, imageBytes)}))
    ++k;
  return k;
}

// Where the image's last row lies in a grab of the same screen: the first grab's last row,
// or, after an append, the last row copied.
int EndRowOf(int scrollY, int h) { return scrollY == h ? h - 1 : h - 1 - kStitchBorder; }

// A band standing at the top (a sticky header, a toolbar, a table's frozen head): the grab's
// first rows, up to half the range, as the first grab showed them, which the image's first rows
// still are. It stays there, once; the content under it was gathered below it.
// Rows alike past half the range tell of nothing that moved under them: no band then.
int TopBandOf(const PixelView& image, const PixelView& grab, int w, int h, int scrollY) {
  const int most = std::min({h / kTopBandShare + 1, scrollY, image.height});
  int band = 0;
  while (band < most && RowsEqual(ViewRow(image, band), ViewRow(grab, band), Span{0, w})) ++band;
  return band > h / kTopBandShare ? 0 : band;
}

// Steps before the search: nothing new visible, or the image full. True when the search runs;
// standing then holds the rows at the image's end that stand where the grab shows them still
// while a row above them does not: a band that does not scroll, such as a footer or a status
// bar (0 when there is none). Its rows would match themselves there and hold the image where it
// ends, and rows alike inside it could even match at the content's move: the key rows are
// looked for above it first. Rows of a band standing at the top are not compared.
bool NeedsSearch(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int maxHeight,
                 int32_t imageBytes, int topBand, StitchDecision& d, int& standing) {
  // Nothing new is visible when the grab ends as the image does, row for row: from its last
  // row (whose uniformity is read in full whatever the bound), or from where the last append
  // left the image's end. The last rows alone do not tell when a band at the bottom of the range
  // stands still while the rows above it move; the second is the usual tick of a pause.
  // The first tick (scrollY == h) has nothing to be unchanged from.
  const int endRow = EndRowOf(scrollY, h), allRows = std::min(scrollY, endRow + 1 - topBand);
  int alike = -1;
  if (scrollY != h) {
    if (!IsUniform(ViewRow(grab, h - 1), MiddleOf(w)) &&
        RowsEndingAlike(image, grab, w, scrollY, imageBytes, h - 1, topBand) == std::min(scrollY, h - topBand)) {
      d.outcome = StitchOutcome::Unchanged;
      return false;
    }
    alike = RowsEndingAlike(image, grab, w, scrollY, imageBytes, endRow, topBand);
    if (alike == allRows) {
      d.outcome = StitchOutcome::Unchanged;
      return false;
    }
  }
  // Before the image's end is read at the first tick: a range taller than the image can take
  // ends there.
  if (scrollY > maxHeight - h) {
    d.outcome = StitchOutcome::LimitReached;
    return false;
  }
  if (alike < 0) alike = RowsEndingAlike(image, grab, w, scrollY, imageBytes, endRow, topBand);
  // Past half the range, rows alike tell rather of content that repeats and moved by its period.
  standing = alike == allRows || alike > h / kTopBandShare ? 0 : alike;
  return true;
}

// What one search compares: the rows of the image that can be joined (above a band standing at
// the bottom), the grab rows above that band, and the columns that vote.
struct Frame {
  PixelView image, grab;
  int w, h, scrollY;
  int band;         // rows standing at the image's end, set aside
  int lastGrabRow;  // the lowest grab row compared
  int lastOffset;   // image row less grab row where the last append left the image's end
  int topBand;      // grab rows at the top that stand where the first grab showed them
  Span vote;
  Span middle;
};

Frame FrameFor(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int topBand) {
  return Frame{image, grab, w, h, scrollY, 0, h - 1, scrollY - 1 - EndRowOf(scrollY, h), topBand, Span{0, w}, MiddleOf(w)};
}

void SetBand(Frame& f, int band) {
  f.band = band;
  // The band stands over the grab's last rows as well: from the one above the border on.
  f.lastGrabRow = band > 0 ? f.h - 1 - kStitchBorder - band : f.h - 1;
}

// One place of the grab against the image, image row = grab row + offset, judged on the whole
// overlap: grab rows lo .. hi.
struct Place {
  int offset = 0;
  int lo = 0, hi = -1;
  int join = -1;          // the lowest grab row that agrees and has ink: the append starts there
  bool qualifies = false;
  bool setAside = false;  // it qualifies only with rows set aside as something that changes by itself
  bool exact = true;      // every row was compared pixel for pixel
  std::vector<int> disagreeing;  // rows of lo .. lo + k - 1 that disagree, for k up to hi - lo + 1

  int Disagreeing(int from, int to) const { return disagreeing[to - lo + 1] - disagreeing[from - lo]; }
  bool operator==(const Place& o) const {
    return offset == o.offset && lo == o.lo && hi == o.hi && join == o.join && qualifies == o.qualifies &&
           disagreeing == o.disagreeing;
  }
};

// Of two places, the one whose rows disagree less where both overlap the image: content that
// merely repeats (a table's alike rows, code) agrees at many places, but only at the true one
// do its distinct rows agree too. Then the longer overlap, the move closer to the last one, the
// smaller move.
bool Beats(const Place& a, const Place& b, int lastOffset) {
  const int lo = std::max(a.lo, b.lo), hi = std::min(a.hi, b.hi);
  if (lo <= hi) {
    const int da = a.Disagreeing(lo, hi), db = b.Disagreeing(lo, hi);
    if (da != db) return da < db;
  }
  if (a.hi - a.lo != b.hi - b.lo) return a.hi - a.lo > b.hi - b.lo;
  const int ma = std::abs(a.offset - lastOffset), mb = std::abs(b.offset - lastOffset);
  if (ma != mb) return ma < mb;
  return a.offset < b.offset;
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

// Per row of a place being judged: bit 0 the rows agree, bit 1 they do and have ink.
constexpr uint8_t kAgree = 1, kInk = 2;

struct Scratch {
  std::vector<uint8_t> rows;
  std::vector<int> sum, count, queue, ending;
};

// The rows of a place that are judged run from its overlap's first row down to the join; rows
// of the band standing at the grab's top that disagree are passed over (the band hides what
// lies under it), those that agree count. Each row judged scores kDisagreeShare - 1 when it
// disagrees and -1 when it agrees, and they confirm the place when their score is at most
// ConfirmingScore(m) for m of them: fewer than about one in kDisagreeShare disagree, and an
// eighth of m (at least kSmallestOverlap) more rows agree than that. Two blocks of at most a
// third of the range's rows each may be set aside first, whatever they hold, for something that
// changes by itself: on the page, or standing on the screen (then the copy the first grab took
// of it is the second block). Each row set aside costs half a row of agreement, so that blocks
// take dense disagreement only and a few agreeing rows left round them confirm nothing. Setting
// aside the blocks that gain most is the best any can do, so the place qualifies when what is
// left after them is low enough; more rows agreeing can only lower it.
int ScoreOf(uint8_t row, bool inBand) { return (row & kAgree) ? -1 : inBand ? 0 : kDisagreeShare - 1; }
int ConfirmingScore(int m) { return -std::max(kSmallestOverlap, m / kDisagreeShare); }

// The most two blocks apart, each of at most `window` rows, hold of values whose sums over the
// first k rows are sum[k] (sum[0] = 0). ending[e]: the most one block holds among rows
// 0 .. e - 1, the best ending at e being the sum so far less the least sum of the window before,
// kept with a queue of rising sums; then the same from the other end, joined with it.
int TwoBlocksHold(const std::vector<int>& sum, int n, int window, Scratch& s) {
  std::vector<int>& queue = s.queue;
  std::vector<int>& ending = s.ending;
  queue.resize(static_cast<size_t>(n) + 1);
  ending.assign(static_cast<size_t>(n) + 1, 0);
  size_t head = 0, tail = 0;
  for (int e = 1; e <= n; ++e) {
    while (tail > head && sum[static_cast<size_t>(queue[tail - 1])] >= sum[static_cast<size_t>(e - 1)]) --tail;
    queue[tail++] = e - 1;
    if (queue[head] < e - window) ++head;
    ending[e] = std::max(ending[e - 1], sum[static_cast<size_t>(e)] - sum[static_cast<size_t>(queue[head])]);
  }
  int most = ending[n], starting = 0;
  head = tail = 0;
  for (int b = n - 1; b >= 0; --b) {
    // The ends b + 1 .. b + window whose sums fall.
    while (tail > head && sum[static_cast<size_t>(queue[tail - 1])] <= sum[static_cast<size_t>(b + 1)]) --tail;
    queue[tail++] = b + 1;
    if (queue[head] > b + window) ++head;
    starting = std::max(starting, sum[static_cast<size_t>(queue[head])] - sum[static_cast<size_t>(b)]);
    most = std::max(most, ending[b] + starting);
  }
  return most;
}

bool Confirms(const Frame& f, Place& p, Scratch& s) {
  const int n = p.join - p.lo + 1, band = std::max(0, f.topBand - p.lo);
  const uint8_t* rows = s.rows.data();
  // Rows agreeing in the band, rows with ink (which agree), and count[k]: rows of the first k
  // that disagree below the band.
  std::vector<int>& count = s.count;
  count.resize(static_cast<size_t>(n) + 1);
  count[0] = 0;
  int agreeInBand = 0, ink = 0;
  for (int k = 0; k < n; ++k) {
    const int agree = rows[k] & kAgree;
    if (k < band) agreeInBand += agree;
    count[k + 1] = count[k] + (k >= band && !agree);
    ink += rows[k] >> 1;
  }
  const int below = n - std::min(band, n), disagreeing = count[n], agreeBelow = below - disagreeing;
  const int m = agreeInBand + below, score = kDisagreeShare * disagreeing - m;
  // The band's rows agree with themselves where the first grab lies: some rows under it must
  // agree too.
  if (m < kSmallestOverlap || agreeBelow < kLeastEvidence || ink < kLeastEvidence) return false;
  const int confirming = 2 * ConfirmingScore(m), window = f.h / kMovingRegionShare;
  // Rows with ink must agree, at least half as many as the rows that disagree outside the
  // blocks: blank rows agree anywhere.
  if (2 * score <= confirming && 2 * ink >= disagreeing) return true;  // the usual place: nothing set aside
  p.setAside = true;
  // Only rows that disagree below the band gain when set aside, each 2 x its score less 1: the
  // blocks gain at most that for as many of them as two windows hold. Most places that are no
  // match at all (content that repeats now and then) go no further.
  int inWindow = count[std::min(n, window)];
  for (int e = window + 1; e <= n; ++e) inWindow = std::max(inWindow, count[e] - count[e - window]);
  const int mostAside = std::min(disagreeing, 2 * inWindow);
  if (2 * score - (2 * kDisagreeShare - 3) * mostAside > confirming || 2 * ink < disagreeing - mostAside) return false;
  std::vector<int>& sum = s.sum;
  sum.resize(static_cast<size_t>(n) + 1);
  sum[0] = 0;
  for (int k = 0; k < n; ++k) sum[k + 1] = sum[k] + 2 * ScoreOf(rows[k], k < band) - 1;
  if (2 * score - TwoBlocksHold(sum, n, window, s) > confirming) return false;
  // However the blocks lie, they hold no more rows that disagree than this.
  return 2 * ink >= disagreeing - TwoBlocksHold(count, n, window, s);
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
  const int n = p.hi - p.lo + 1, window = f.h / kMovingRegionShare;
  s.rows.assign(static_cast<size_t>(n), 0);
  // From the overlap's end up to the join, which is compared pixel for pixel (which row it is
  // must not hang on a hash): the rows under it (a blank strip, rows half painted, a box that changed) are
  // replaced by the append and only count when places are compared.
  int join = -1, g = p.hi;
  for (; g >= p.lo && join < 0; --g) {
    bool agree = rows.Agree(o, g);
    bool ink = agree && !rows.Uniform(g + o);
    if (ink && rows.Hashing()) agree = ink = rows.AgreeExactly(o, g);
    s.rows[g - p.lo] = static_cast<uint8_t>((agree ? kAgree : 0) | (ink ? kInk : 0));
    if (ink) join = g;
  }
  if (join >= 0 && g >= p.lo && rows.Hashing()) {
    rows.Fill(o, p.lo, g, s.rows.data());
  } else if (join >= 0) {
    // Compared one by one, and bounded: the doubled score that no block set aside can take
    // below it counts the rows judged so far in full but for the most a block can gain, and
    // those not yet compared (and the join) as agreeing, against the score the fewest rows
    // judged would need. Once it is too high the place is refused at once.
    const int confirming = 2 * ConfirmingScore(kSmallestOverlap);
    int least = -2 * (2 * kDisagreeShare - 3) * window - 2 * (g - p.lo + 2);
    for (; g >= p.lo; --g) {
      const bool agree = rows.Agree(o, g);
      const bool ink = agree && !rows.Uniform(g + o);
      s.rows[g - p.lo] = static_cast<uint8_t>((agree ? kAgree : 0) | (ink ? kInk : 0));
      if (!agree && (least += g < f.topBand ? 2 : 2 * kDisagreeShare) > confirming) return;
    }
  }
  if (join < 0) return;
  p.join = join;
  p.exact = rows.Hashed() == hashedBefore;
  if (!Confirms(f, p, s)) return;
  p.qualifies = true;
  p.disagreeing.assign(static_cast<size_t>(n) + 1, 0);
  for (int k = 0; k < n; ++k) p.disagreeing[k + 1] = p.disagreeing[k] + ((s.rows[k] & kAgree) == 0);
}


enum class Found { Nothing, Place, Unsure };
struct Verdict {
  Found found = Found::Nothing;
  Place place;
};

// The place that beats every one before it.
size_t Best(const std::vector<Place>& places, int lastOffset) {
  size_t king = 0;
  for (size_t i = 1; i < places.size(); ++i)
    if (Beats(places[i], places[king], lastOffset)) king = i;
  return king;
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
    size_t king = Best(qualified, f.lastOffset);
    if (qualified[king].setAside) {
      // Places where grab row g shows image row g + o, with y below the grab: o < y - lastGrabRow.
      for (int g = f.lastGrabRow, asked = 0; g >= f.topBand && asked < kScrolledBackRows; --g) {
        if (IsUniform(ViewRow(f.grab, g), f.middle)) continue;
        ++asked;
        rows.ImageRowsShowing(g, f.topBand, y - f.lastGrabRow + g - 1, candidates);
        for (const int i : candidates) judge(i - g);
      }
      king = Best(qualified, f.lastOffset);
    }
    bool beatsAll = true;
    for (size_t i = 0; i < qualified.size() && beatsAll; ++i)
      beatsAll = i == king || Beats(qualified[king], qualified[i], f.lastOffset);
    return rows.Accept(f, std::move(qualified[king]), beatsAll, s);
  }
  return Verdict{};
}

// Side bands that stand still: columns from either edge, up to about a quarter of the width,
// that show what the first grab showed in the same place (the image's top rows) in all but an
// eighth of the rows, beside columns that do not. They are looked for tile by tile, a tile
// counting only when it changes from row to row in an eighth of the rows at least (tiles nearly
// alike in every row agree at any place, whether they stand or move), then column by column into
// the tile where the band ends. The columns between the bands vote.
Span StandingSides(const Frame& f) {
  // Every kSideBandStride-th row tells: a band stands in all of them.
  const int rows = std::min(f.scrollY, f.h - kStitchBorder), few = rows / kSideBandStride / kDisagreeShare;
  const auto stands = [&](Span columns, bool& drawn) {
    int differ = 0, changes = 0;
    for (int g = 0; g < rows; g += kSideBandStride) {
      const uint32_t* now = ViewRow(f.grab, g);
      if (!RowsEqual(ViewRow(f.image, g), now, columns) && ++differ > few) return false;
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
  if (left == 0 && right == 0) return f.vote;
  Span vote{start(left), start(kStitchTiles - right)};
  bool drawn = false;
  if (left > 0 && movingLeft == left)
    while (vote.begin < tile(movingLeft).end && stands(Span{vote.begin, vote.begin + 1}, drawn)) ++vote.begin;
  if (right > 0 && movingRight == kStitchTiles - 1 - right)
    while (vote.end > tile(movingRight).begin && vote.end > vote.begin + 1 && stands(Span{vote.end - 1, vote.end}, drawn))
      --vote.end;
  return vote;
}

// The whole search: above a band standing at the bottom, then from the image's end; all columns,
// then without the side bands that stand still.
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

}  // namespace

namespace {

// Rows compared pixel for pixel: the reference, and how the fast search confirms its choice.
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
  // The image rows from..to (lowest first) equal to grab row g.
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

StitchDecision AppendAt(const Place& p, int h) {
  return StitchDecision{StitchOutcome::Append, p.join + p.offset, p.join, p.offset + h - kStitchBorder};
}

}  // namespace

StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes) {
  const int w = rangeWidth, h = rangeHeight;
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int band = 0;
  const int topBand = TopBandOf(image, grab, w, h, scrollY);
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, topBand, d, band)) return d;
  Scratch s;
  const Verdict v = Search(FrameFor(image, grab, w, h, scrollY, topBand), band, [](const Frame& f) { return LiteralRows{f}; }, s);
  return v.found == Found::Place ? AppendAt(v.place, h) : d;
}

void ApplyStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                        int matchRow) {
  const int w = rangeWidth, h = rangeHeight;
  const int fillEnd = std::min(keyRow + h + kStitchBorder * 2, image.height - 1);
  for (int y = keyRow + 1; y <= fillEnd; ++y) std::memset(ViewRow(image, y), 0, sizeof(uint32_t) * image.width);
  // Grab rows past its last row (H + 5) leave the black of the fill.
  const int copyRows = std::min(h - 2 * kStitchBorder, grab.height - matchRow);
  for (int i = 0; i < copyRows && keyRow + i < image.height; ++i)
    std::memcpy(ViewRow(image, keyRow + i), ViewRow(grab, matchRow + i), sizeof(uint32_t) * w);
}

namespace {

#if defined(__SSE2__)
// The products of the pairs among four pixels with their keys added, one 64-bit lane each.
__m128i PairProducts(__m128i pixels, const uint32_t* keys) {
  const __m128i a = _mm_add_epi32(pixels, Load(keys));
  return _mm_mul_epu32(a, _mm_srli_epi64(a, 32));
}

uint64_t Sum(__m128i acc0, __m128i acc1) {
  uint64_t lanes[2];  // the 32-bit Windows stack promises no 16-byte alignment
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(acc0, acc1));
  return lanes[0] + lanes[1];
}
#endif

// The pairs from column c (even) up to end, one by one; an odd last pixel is paired with a key.
uint64_t PairTail(const uint32_t* row, int c, int end, const uint32_t* keys) {
  uint64_t sum = 0;
  for (; c + 1 < end; c += 2)
    sum += uint64_t{static_cast<uint32_t>(row[c] + keys[c])} * static_cast<uint32_t>(row[c + 1] + keys[c + 1]);
  if (c < end) sum += uint64_t{static_cast<uint32_t>(row[c] + keys[c])} * (keys[c + 1] | 1u);
  return sum;
}

// The pairs of columns begin (even) .. end - 1; with `to`, the columns are copied there on the way.
uint64_t PairSum(const uint32_t* row, int begin, int end, const uint32_t* keys, uint32_t* to) {
  int c = begin;
  uint64_t sum = 0;
#if defined(__SSE2__)
  // No load reaches past end, so the row needs no columns beyond the range.
  if (end - begin >= 8) {
  __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
  for (; c + 7 < end; c += 8) {
    const __m128i v0 = Load(row + c), v1 = Load(row + c + 4);
    if (to != nullptr) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c), v0);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c + 4), v1);
    }
    acc0 = _mm_add_epi64(acc0, PairProducts(v0, keys + c));
    acc1 = _mm_add_epi64(acc1, PairProducts(v1, keys + c + 4));
  }
  sum = Sum(acc0, acc1);
  }
#endif
  if (to != nullptr) std::memcpy(to + c, row + c, sizeof(uint32_t) * static_cast<size_t>(end - c));
  return sum + PairTail(row, c, end, keys);
}

}  // namespace

uint64_t KeyedRowHash(const uint32_t* row, int width, const uint32_t* keys) {
  return PairSum(row, 0, width, keys, nullptr);
}

namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

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
}

// A record made for another image or range knows nothing of this one, not even which rows are
// black: it starts over rather than be trusted.
void Adopt(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight) {
  if (rows.pixels != image.pixels || rows.width != image.width || rows.height != image.height ||
      rows.rangeWidth != rangeWidth || rows.rangeHeight != rangeHeight)
    Describe(rows, image, rangeWidth, rangeHeight, image.height);
}

// Learns image row y from its pixels (copied there from `from` first when given).
void LearnRow(StitchRows& rows, const PixelView& image, int y, const uint32_t* from) {
  uint32_t* row = ViewRow(image, y);
  const size_t at = static_cast<size_t>(y);
  rows.hash[at] = PairSum(from != nullptr ? from : row, 0, rows.rangeWidth, rows.keys.data(), from != nullptr ? row : nullptr);
  rows.uniform[at] = IsUniform(row, MiddleOf(rows.rangeWidth));
}

// Hashes and uniformity of the image rows from knownRows up to (not including) upTo.
void LearnRows(StitchRows& rows, const PixelView& image, int upTo) {
  upTo = std::min(upTo, rows.height);
  for (int y = upTo - 1; y >= rows.knownRows; --y) LearnRow(rows, image, y, nullptr);  // in memory order
  rows.knownRows = std::max(rows.knownRows, upTo);
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
  // Image rows hashed over the voting columns when they are not all the columns.
  std::vector<uint64_t> voteHash{};
  std::vector<uint8_t> voteKnown{};
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

  uint64_t ImageHash(int y) {
    StitchRows& rows = tick.rows;
    const size_t at = static_cast<size_t>(y);
    if (f.vote == Span{0, f.w}) return rows.hash[at] & rows.hashMask;
    // Only a search that sets bands at the sides aside needs these: learnt then, for the tick.
    if (tick.voteKnown.size() != static_cast<size_t>(f.scrollY)) {
      tick.voteKnown.assign(static_cast<size_t>(f.scrollY), 0);
      tick.voteHash.resize(static_cast<size_t>(f.scrollY));
    }
    if (!tick.voteKnown[at]) {
      tick.voteHash[at] = PairSum(ViewRow(f.image, y), f.vote.begin, f.vote.end, rows.keys.data(), nullptr);
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
    for (int g = h - 1; g >= 0; --g)
      rows.grabHash[static_cast<size_t>(g)] =
          PairSum(ViewRow(f.grab, g), f.vote.begin, f.vote.end, rows.keys.data(), nullptr) & rows.hashMask;
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
  // The image rows from..to (lowest first) equal to grab row g: by their hashes, each confirmed
  // pixel for pixel.
  void ImageRowsShowing(int g, int from, int to, std::vector<int>& out) {
    out.clear();
    const uint32_t* row = ViewRow(f.grab, g);
    const uint64_t hash = PairSum(row, f.vote.begin, f.vote.end, tick.rows.keys.data(), nullptr) & tick.rows.hashMask;
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
    if (!Indexed()) {
      tick.budget -= kRowCompareCharge + (f.vote.end - f.vote.begin);
      return RowsEqual(ViewRow(f.image, g + o), ViewRow(f.grab, g), f.vote);
    }
    ++hashed;
    return ImageHash(g + o) == tick.rows.grabHash[static_cast<size_t>(g)];
  }
  bool Hashing() const { return Indexed(); }
  // Rows lo .. last of the place at offset o, agreeing or not on hashes, into out[0 ..].
  void Fill(int o, int lo, int last, uint8_t* out) {
    const StitchRows& rows = tick.rows;
    const uint64_t* grab = rows.grabHash.data();
    const uint8_t* uniform = rows.uniform.data();
    if (f.vote == Span{0, f.w}) {
      const uint64_t* image = rows.hash.data();
      const uint64_t mask = rows.hashMask;
      for (int g = lo; g <= last; ++g) {
        const bool agree = (image[g + o] & mask) == grab[g];
        out[g - lo] = static_cast<uint8_t>(agree ? (uniform[g + o] ? kAgree : kAgree | kInk) : 0);
      }
    } else {
      for (int g = lo; g <= last; ++g) {
        const bool agree = ImageHash(g + o) == grab[g];
        out[g - lo] = static_cast<uint8_t>(agree ? (uniform[g + o] ? kAgree : kAgree | kInk) : 0);
      }
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

void ResetStitchRows(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int writtenRows,
                     uint64_t seed) {
  rows.seed = seed;
  Describe(rows, image, rangeWidth, rangeHeight, writtenRows);
  LearnRows(rows, image, writtenRows);
}

StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, StitchRows& rows, int64_t literalSamples) {
  const int w = rangeWidth, h = rangeHeight;
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int band = 0;
  const int topBand = TopBandOf(image, grab, w, h, scrollY);
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, topBand, d, band)) return d;
  Adopt(rows, image, w, h);
  LearnRows(rows, image, scrollY);
  // The usual tick decides after a scan of the grab for its key row and one literal comparison
  // of the overlap. Past about that much, the grab's rows are hashed and indexed instead.
  FastTick tick{rows, literalSamples >= 0 ? literalSamples : int64_t{h} * (w + 2 * kRowCompareCharge)};
  Scratch s;
  const Verdict v =
      Search(FrameFor(image, grab, w, h, scrollY, topBand), band, [&tick](const Frame& f) { return FastRows{f, tick}; }, s);
  if (v.found == Found::Unsure) {
    ++rows.literalFallbacks;
    return DecideStitchLiteral(image, grab, w, h, scrollY, maxHeight, imageBytes);
  }
  return v.found == Found::Place ? AppendAt(v.place, h) : d;
}

void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow, StitchRows& rows) {
  const int w = rangeWidth, h = rangeHeight;
  Adopt(rows, image, w, h);
  const int fillEnd = std::min(keyRow + h + kStitchBorder * 2, image.height - 1);
  const int copyRows = std::min(h - 2 * kStitchBorder, grab.height - matchRow);
  const int copyEnd = std::max(keyRow, std::min(keyRow + copyRows, image.height));
  // Below the copied rows the fill makes whole rows black; the rows known black already are
  // left alone, which spares rewriting a grab's worth of rows at every append. Consecutive
  // rows lie together in memory, the lowest row first.
  const int blackStart = std::max(copyEnd, keyRow + 1);
  const int blackLast = std::min(fillEnd, rows.blackFrom - 1);
  if (blackLast >= blackStart)
    std::memset(ViewRow(image, blackLast), 0,
                sizeof(uint32_t) * image.width * static_cast<size_t>(blackLast - blackStart + 1));
  // Rows from the key row on are new. When the record knows every row above them, each
  // copied row is learnt on its way through the copy, while it is at hand, instead of being
  // read once more.
  rows.knownRows = std::min(rows.knownRows, keyRow);
  const bool learning = rows.knownRows == keyRow;
  for (int y = copyEnd - 1; y >= keyRow; --y) {  // in memory order
    const uint32_t* from = ViewRow(grab, matchRow + (y - keyRow));
    uint32_t* to = ViewRow(image, y);
    if (learning) {
      LearnRow(rows, image, y, from);
    } else {
      std::memcpy(to, from, sizeof(uint32_t) * static_cast<size_t>(w));
    }
    // Below the key row the fill's black stays past the range width.
    if (y > keyRow && image.width > w) std::fill(to + w, to + image.width, 0u);
  }
  if (learning) rows.knownRows = copyEnd;
  // Rows between the fill and blackFrom were not touched and may hold anything.
  if (rows.blackFrom <= fillEnd + 1) rows.blackFrom = blackStart;
  // The black rows the image may end with.
  LearnRows(rows, image, std::min(keyRow + h - matchRow - kStitchBorder, rows.height));
}
