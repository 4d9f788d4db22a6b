#include "capture/stitch_score.h"

#include <cstdlib>

namespace stitching {

// ending[e]: the most one block holds among rows 0 .. e - 1, the best ending at e being the sum
// so far less the least sum of the window before, kept with a queue of rising sums; then the
// same from the other end, joined with it.
int TwoBlocksHold(const std::vector<int>& sum, int n, int window, ScoreScratch& s) {
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

bool Confirms(const uint8_t* rows, int n, int band, int h, bool& setAside, ScoreScratch& s) {
  setAside = false;
  // Rows agreeing in the band, rows that disagree below it, and rows with ink (which agree): plain
  // sums, which the compiler takes many rows at a time. Every place of an empty grid comes here.
  const auto unlike = [rows](int k) { return (rows[k] & kAgree) ^ kAgree; };
  const int inBand = std::min(band, n);
  int agreeInBand = 0, disagreeing = 0, ink = 0;
  for (int k = 0; k < inBand; ++k) agreeInBand += rows[k] & kAgree;
  for (int k = inBand; k < n; ++k) disagreeing += unlike(k);
  for (int k = 0; k < n; ++k) ink += rows[k] >> 1;
  const int below = n - inBand, agreeBelow = below - disagreeing;
  const int m = agreeInBand + below, score = kDisagreeShare * disagreeing - m;
  // The band's rows agree with themselves where the first grab lies: some rows under it must
  // agree too.
  if (m < kSmallestOverlap || agreeBelow < kLeastEvidence || ink < kLeastEvidence) return false;
  const int window = MovingRegionRows(h);
  // Rows with ink must agree, at least half as many as the rows that disagree outside the
  // blocks: blank rows agree anywhere.
  if (ConfirmsWith(score, 0, m) && 2 * ink >= disagreeing) return true;  // the usual place: nothing set aside
  setAside = true;
  // Rows set aside cost nothing, so that a picture decoding half the range tall is followed;
  // what is left must then agree by rows with ink, which blank rows at any place do not.
  if (ink < -ConfirmingScore(m)) return false;
  // Only rows that disagree below the band gain when set aside: the blocks gain at most that for
  // as many of them as two windows hold. Most places that are no match at all (content that
  // repeats now and then) go no further: many fail even were both windows full of them, the
  // others once the fullest window is counted.
  const auto refused = [&](int mostAside) {
    return !ConfirmsWith(score, AsideGain(0, false) * mostAside, m) || 2 * ink < disagreeing - mostAside;
  };
  if (refused(std::min(disagreeing, 2 * window))) return false;
  // count[k]: rows of the first k that disagree below the band.
  std::vector<int>& count = s.count;
  count.resize(static_cast<size_t>(n) + 1);
  int* counts = count.data();
  int counted = counts[0] = 0;
  for (int k = 0; k < n; ++k) counts[k + 1] = counted += k >= band ? unlike(k) : 0;
  // The fullest window: the band's rows count for none, and the windows that end before a whole
  // one fits hold the counts so far, which only rise. The rest are differences of the counts,
  // which the compiler takes many at a time.
  int inWindow = counts[std::min(n, window)];
  for (int e = std::max(window, inBand + 1); e <= n; ++e) inWindow = std::max(inWindow, counts[e] - counts[e - window]);
  if (refused(std::min(disagreeing, 2 * inWindow))) return false;
  std::vector<int>& sum = s.sum;
  sum.resize(static_cast<size_t>(n) + 1);
  sum[0] = 0;
  for (int k = 0; k < n; ++k) sum[k + 1] = sum[k] + AsideGain(rows[k], k < band);
  if (!ConfirmsWith(score, TwoBlocksHold(sum, n, window, s), m)) return false;
  // However the blocks lie, they hold no more rows that disagree than this.
  return 2 * ink >= disagreeing - TwoBlocksHold(count, n, window, s);
}

bool Expects(const Place& a, const Place& b, Motion m) {
  const bool backA = a.offset < m.lastOffset, backB = b.offset < m.lastOffset;
  if (backA != backB) return backB;
  const int ea = std::abs(a.offset - m.lastOffset - m.lastMove), eb = std::abs(b.offset - m.lastOffset - m.lastMove);
  if (ea != eb) return ea < eb;
  if (a.hi - a.lo != b.hi - b.lo) return a.hi - a.lo > b.hi - b.lo;
  return a.offset > b.offset;
}

bool Beats(const Place& a, const Place& b, RowRange weighed, Motion m) {
  const auto disagreeing = [&](const Place& p) {
    const int lo = std::max(p.lo, weighed.lo), hi = std::min(p.hi, weighed.hi);
    return lo <= hi ? p.Disagreeing(lo, hi) : 0;
  };
  const int da = disagreeing(a), db = disagreeing(b);
  return da != db ? da < db : Expects(a, b, m);
}

size_t Best(const std::vector<Place>& places, RowRange weighed, Motion m) {
  size_t king = 0;
  for (size_t i = 1; i < places.size(); ++i)
    if (Beats(places[i], places[king], weighed, m)) king = i;
  return king;
}

}  // namespace stitching
