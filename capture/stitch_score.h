// Whether a place is confirmed, and which of two places is the better one, told from what its
// rows showed when compared and from nothing else: no pixels.
#ifndef TALLSNAP_CAPTURE_STITCH_SCORE_H
#define TALLSNAP_CAPTURE_STITCH_SCORE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/stitch.h"

namespace stitching {

// Per row of a place being judged: bit 0 the rows agree, bit 1 they do and have ink.
constexpr uint8_t kAgree = 1, kInk = 2;

// A uniform row agrees at any place: only rows with ink in their middle are evidence.
inline uint8_t RowFacts(bool agree, bool uniform) { return agree ? (uniform ? kAgree : kAgree | kInk) : 0; }

// The most rows something that changes by itself may take: a third of the range's.
inline int MovingRegionRows(int h) { return h / kMovingRegionShare; }

// The rows of a place that are judged are its whole overlap with the image; rows
// of the band standing at the grab's top that disagree are passed over (the band hides what
// lies under it), those that agree count. Each row judged scores kDisagreeShare - 1 when it
// disagrees and -1 when it agrees, and they confirm the place when their score is at most
// ConfirmingScore(m) for m of them: fewer than about one in kDisagreeShare disagree, and an
// eighth of m (at least kSmallestOverlap) more rows agree than that. Two blocks of at most a
// third of the range's rows each may be set aside first, whatever they hold, for something that
// changes by itself: on the page, or standing on the screen (then the copy the first grab took
// of it is the second block): a picture that decodes half the range tall is one. Setting a row
// aside costs nothing, but the place must then have an eighth of m (at least kSmallestOverlap)
// rows with ink that agree, so that blank rows, which agree at any place, left round the blocks
// confirm nothing. Setting aside the blocks that gain most is the best any can do, so the place
// qualifies when what is left after them is low enough; more rows agreeing can only lower it.
inline int ScoreOf(uint8_t row, bool inBand) { return (row & kAgree) ? -1 : inBand ? 0 : kDisagreeShare - 1; }
inline int ConfirmingScore(int m) { return -std::max(kSmallestOverlap, m / kDisagreeShare); }

// What setting a row aside takes off the doubled score (the score is doubled where blocks are
// weighed).
inline int AsideGain(uint8_t row, bool inBand) { return 2 * ScoreOf(row, inBand); }

// The score of m rows confirms them once blocks that gain `gain` are set aside.
inline bool ConfirmsWith(int score, int gain, int m) { return 2 * score - gain <= 2 * ConfirmingScore(m); }

// A place whose rows are compared one by one, bounded: the rows not compared yet (and the join)
// count as agreeing and the blocks set aside as gaining the most two of them could, each row
// that disagrees counted in full. Once even that confirms not the fewest rows a place is judged
// on, nothing still to come can, and the place is refused at once.
struct ScoreBound {
  int score, gain;
  ScoreBound(int rows, int h) : score(-rows), gain(2 * MovingRegionRows(h) * AsideGain(0, false)) {}
  // A row compared already, under the join.
  void Judged(uint8_t row, bool inBand) { score += ScoreOf(row, inBand); }
  // A row that disagrees after all: false once the place can no longer be confirmed.
  bool Disagrees(bool inBand) {
    score += ScoreOf(0, inBand) - ScoreOf(kAgree, inBand);
    return ConfirmsWith(score, gain, kSmallestOverlap);
  }
};

// Room the scoring reuses from place to place.
struct ScoreScratch {
  std::vector<int> sum, count, queue, ending;
};

// The most two blocks apart, each of at most `window` rows, hold of values whose sums over the
// first k rows are sum[k] (sum[0] = 0).
int TwoBlocksHold(const std::vector<int>& sum, int n, int window, ScoreScratch& s);

// Whether the facts of a place's judged rows 0 .. n - 1 confirm it, the first `band` of them
// lying in the band standing at the grab's top, in a range h rows high; setAside tells that
// they do only with blocks set aside (or would).
bool Confirms(const uint8_t* rows, int n, int band, int h, bool& setAside, ScoreScratch& s);

// One place of the grab against the image, image row = grab row + offset, judged on the whole
// overlap: grab rows lo .. hi.
struct Place {
  int offset = 0;
  int lo = 0, hi = -1;
  int join = -1;          // the lowest grab row that agrees and has ink: the append starts there
  bool qualifies = false;
  bool setAside = false;  // it qualifies only with rows set aside as something that changes by itself
  bool exact = true;      // every row was compared pixel for pixel
  // The rows of lo .. hi that disagree, rising: a place that qualifies has few.
  std::vector<int> unlike;

  // Of rows from .. to.
  int Disagreeing(int from, int to) const {
    return static_cast<int>(std::upper_bound(unlike.begin(), unlike.end(), to) -
                            std::lower_bound(unlike.begin(), unlike.end(), from));
  }
  bool operator==(const Place& o) const {
    return offset == o.offset && lo == o.lo && hi == o.hi && join == o.join && qualifies == o.qualifies &&
           unlike == o.unlike;
  }
};

// Where the last append left the image's end (image row less grab row), and the content's move
// then.
struct Motion {
  int lastOffset;
  int lastMove;
};

// Of places the pixels cannot tell apart (rows that repeat exactly, as an empty grid's, a period
// or more apart), the one to expect: the one that does not cut the image back, then the move
// closer to the last one (a scroll goes on as it went), then the longer overlap, then the larger
// move.
bool Expects(const Place& a, const Place& b, Motion m);

// Grab rows lo .. hi (none when lo > hi).
struct RowRange {
  int lo, hi;
};

// Of two places, the one whose rows disagree less among `weighed`, the rows of the place the
// motion expects: content that merely repeats (a table's alike rows, code) agrees at many places,
// but only at the true one do its distinct rows agree too. Between places alike in that, the
// motion tells. As each place is weighed on rows of its own, of any places one beats all the
// others.
bool Beats(const Place& a, const Place& b, RowRange weighed, Motion m);

// The place that beats all the others.
size_t Best(const std::vector<Place>& places, RowRange weighed, Motion m);

}  // namespace stitching

#endif
