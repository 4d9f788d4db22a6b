#include "capture/last_look.h"
#include "capture/settle.h"
#include "capture/stitch.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "range/rect.h"

namespace {

// Content of a scrolled document: row k, column x. Every row differs from every other and is
// not uniform, unless a test says otherwise.
struct Content {
  int width;
  std::vector<std::vector<uint32_t>> rows;

  Content(int w, int count, unsigned seed) : width(w), rows(static_cast<size_t>(count), std::vector<uint32_t>(w)) {
    std::mt19937 random(seed);
    for (auto& row : rows)
      for (auto& px : row) px = random() & 0x00FFFFFF;
  }
  void MakeUniform(int from, int count) {
    for (int k = from; k < from + count; ++k) rows[k].assign(width, 0x00101010u + static_cast<uint32_t>(k));
  }
  // Text: lines of 16 rows, 7 blank (white) over 9 of letters, each letter one of 26 random
  // 5 x 9 glyphs in a 6-column cell from column 10 on. offSampled keeps the ink off the sampled
  // columns (every 4th), so that rows differ only between them.
  void MakeLetters(unsigned seed, bool offSampled) {
    std::mt19937 random(seed);
    std::vector<uint32_t> glyphs(26 * 9);
    for (uint32_t& bits : glyphs) bits = random() & 31;
    const int cells = (width - 20) / 6;
    for (size_t k = 0; k < rows.size(); ++k) {
      if (k % 16 == 0)
        for (int cell = 0; cell < cells; ++cell) line[cell] = static_cast<int>(random() % 26);
      rows[k].assign(width, 0x00FFFFFFu);
      if (k % 16 < 7) continue;
      for (int cell = 0; cell < cells; ++cell)
        for (int i = 0; i < 5; ++i) {
          const int x = 10 + 6 * cell + i;
          if ((glyphs[line[cell] * 9 + k % 16 - 7] >> i & 1) && !(offSampled && x % 4 == 0)) rows[k][x] = 0x00202020u;
        }
    }
  }
  int line[64] = {};
};

// The two surfaces of a session, laid out as in memory: bottom-up, W + 6 wide.
struct Session {
  int w, h;
  std::vector<uint32_t> imagePixels, grabPixels, sparePixels;
  PixelView image, grab, spare;  // spare: where the look may hold the screen seen last
  int scrollY;
  StitchRows rows;
  LastLook look;

  Session(int width, int height)
      : w(width), h(height), imagePixels(static_cast<size_t>(width + 6) * 4006),
        grabPixels(static_cast<size_t>(width + 6) * (height + 6)), sparePixels(grabPixels.size()) {
    image = PixelView{imagePixels.data(), width + 6, 4006};
    grab = PixelView{grabPixels.data(), width + 6, height + 6};
    spare = PixelView{sparePixels.data(), width + 6, height + 6};
    scrollY = height;
  }
  int32_t ImageBytes() const { return 40 + 4 * image.width * image.height; }
  // The grab while the document is scrolled down by offset rows.
  void Grab(const Content& c, int offset) {
    for (int j = 0; j < h; ++j)
      for (int x = 0; x < w; ++x) ViewRow(grab, j)[x] = c.rows[offset + j][x];
  }
  // What the screen shows over the document in the grab, if anything.
  std::function<void(const PixelView& grab, int offset)> overlay;
  // The first grab seeds the image.
  void Start(const Content& c, int offset) {
    Grab(c, offset);
    if (overlay) overlay(grab, offset);
    for (int j = 0; j < h; ++j)
      for (int x = 0; x < w; ++x) ViewRow(image, j)[x] = ViewRow(grab, j)[x];
    scrollY = h;
    ResetStitchRows(rows, image, w, h, h, 1);
    StartLastLook(look, grab, w, h, image.height);
  }
  StitchDecision Tick(const Content& c, int offset) {
    Grab(c, offset);
    if (overlay) overlay(grab, offset);
    const StitchDecision d = DecideStitch(image, grab, w, h, scrollY, 4000, ImageBytes(), rows, SeenBy(look, image));
    const PixelView taken = grab;
    const bool append = d.outcome == StitchOutcome::Append;
    if (LookAtTick(image, grab, w, h, d, append, scrollY, rows, look)) std::swap(grab, spare);
    if (append) scrollY = d.newScrollY;
    // The next tick tells what stands by the screen this one grabbed, wherever the look keeps it.
    const ScreenSeen seen = SeenBy(look, image);
    for (int r = 0; r < h; ++r)
      if (!std::equal(seen.rows[r], seen.rows[r] + w, ViewRow(taken, r))) {
        ADD_FAILURE() << "the look shows otherwise than the grab at screen row " << r;
        break;
      }
    return d;
  }
  // The finish: one more grab of the screen as it stands.
  void Finish(const Content& c, int offset) {
    Grab(c, offset);
    if (overlay) overlay(grab, offset);
    FinishLastLook(look, image, grab, scrollY);
  }
  bool ImageRowIs(int y, const std::vector<uint32_t>& row) const {
    for (int x = 0; x < w; ++x)
      if (ViewRow(image, y)[x] != row[x]) return false;
    return true;
  }
  bool ImageRowBlack(int y) const {
    for (int x = 0; x < image.width; ++x)
      if (ViewRow(image, y)[x] != 0) return false;
    return true;
  }
};

// Ticks at each offset of the document in turn; after each the image must end where the
// document does (scrollY = offset + H - 3) and hold it above the last `untrusted` rows (a strip
// the overlay covers), except where skip(y, x) says the overlay may show. A tick that moves the
// document across row `waits` (where the overlay moved otherwise than the document) may append
// nothing; the next one follows.
void ExpectFollows(Session& s, const Content& c, const std::vector<int>& offsets, int untrusted = 0,
                   const std::function<bool(int, int)>& skip = nullptr, int waits = -1) {
  for (size_t tick = 0; tick < offsets.size(); ++tick) {
    const int offset = offsets[tick], before = tick > 0 ? offsets[tick - 1] : 0;
    s.Tick(c, offset);
    if ((before < waits) != (offset < waits)) continue;
    ASSERT_EQ(s.scrollY, offset + s.h - 3) << "tick " << tick;
    for (int y = 0; y < offset + s.h - untrusted; ++y)
      for (int x = 0; x < s.w; ++x)
        if (!(skip && skip(y, x))) {
          ASSERT_EQ(ViewRow(s.image, y)[x], c.rows[y][x]) << "tick " << tick << " row " << y;
        }
  }
}

// Offsets from start on, moving by the given amounts in turn, never by -3 (the one move the
// last-row test cannot see) and never above the document's top.
std::vector<int> OffsetsFrom(int start, const std::vector<int>& moves) {
  std::vector<int> offsets;
  for (int move : moves) offsets.push_back(start = std::max(0, start + (move == -3 ? -2 : move)));
  return offsets;
}

// Pixels beside a page that cannot be read: before them (where rows past a bottom-up image's
// last lie, as before a file mapping) or after them (where rows above its first would lie).
// Reading there ends the test's process.
struct GuardedPixels {
  static constexpr size_t kGuard = 1 << 16;
  GuardedPixels(size_t count, bool guardAfter) {
    const size_t bytes = count * 4, rounded = (bytes + kGuard - 1) / kGuard * kGuard;
    total = rounded + kGuard;
#ifdef _WIN32
    base = static_cast<char*>(VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD was = 0;
    VirtualProtect(guardAfter ? base + rounded : base, kGuard, PAGE_NOACCESS, &was);
#else
    base = static_cast<char*>(mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(guardAfter ? base + rounded : base, kGuard, PROT_NONE);
#endif
    pixels = reinterpret_cast<uint32_t*>(guardAfter ? base + rounded - bytes : base + kGuard);
  }
  ~GuardedPixels() {
#ifdef _WIN32
    VirtualFree(base, 0, MEM_RELEASE);
#else
    munmap(base, total);
#endif
  }
  char* base;
  size_t total;
  uint32_t* pixels;
};

}  // namespace

TEST(Stitch, TheFirstTicksOfASession) {
  Content c(100, 600, 1);
  Session s(100, 200);
  s.Start(c, 0);
  // First tick, nothing moved: the unchanged test is skipped and the image re-anchors.
  StitchDecision d = s.Tick(c, 0);
  ASSERT_EQ(d.outcome, StitchOutcome::Append);
  EXPECT_EQ(d.keyRow, 199);
  EXPECT_EQ(d.matchRow, 199);
  EXPECT_EQ(s.scrollY, 197);
  EXPECT_TRUE(s.ImageRowIs(199, c.rows[199]));
  for (int y = 200; y <= 405; ++y) ASSERT_TRUE(s.ImageRowBlack(y)) << y;

  // The document moved up 30 rows.
  d = s.Tick(c, 30);
  ASSERT_EQ(d.outcome, StitchOutcome::Append);
  EXPECT_EQ(d.keyRow, 196);
  EXPECT_EQ(d.matchRow, 166);
  EXPECT_EQ(s.scrollY, 227);
  for (int y = 0; y < 227; ++y) ASSERT_TRUE(s.ImageRowIs(y, c.rows[y])) << y;

  // Back down 20 rows: cut back.
  d = s.Tick(c, 10);
  ASSERT_EQ(d.outcome, StitchOutcome::Append);
  EXPECT_EQ(s.scrollY, 207);
  for (int y = 0; y < 207; ++y) ASSERT_TRUE(s.ImageRowIs(y, c.rows[y])) << y;

  // Nothing moved since: the grab ends where the append left the image, and nothing changes.
  EXPECT_EQ(s.Tick(c, 10).outcome, StitchOutcome::Unchanged);
  EXPECT_EQ(s.scrollY, 207);
  for (int y = 0; y < 207; ++y) ASSERT_TRUE(s.ImageRowIs(y, c.rows[y])) << y;
}

TEST(Stitch, AMoveUpOfExactlyThreeRowsWaitsForTheNextMove) {
  // The image ends 3 rows above the grab's end: after a move up by 3 the two last rows are the
  // same content row, and the tick sees nothing new until the document moves again.
  Content c(100, 600, 11);
  Session s(100, 200);
  s.Start(c, 50);
  s.Tick(c, 50);
  EXPECT_EQ(s.scrollY, 197);
  EXPECT_EQ(s.Tick(c, 47).outcome, StitchOutcome::Unchanged);
  EXPECT_EQ(s.scrollY, 197);
  EXPECT_EQ(s.Tick(c, 45).outcome, StitchOutcome::Append);
  EXPECT_EQ(s.scrollY, 192);
}

TEST(Stitch, ScrollYFollowsTheDistanceScrolled) {
  Content c(64, 3000, 2);
  Session s(64, 150);
  s.Start(c, 0);
  std::mt19937 random(3);
  int offset = 0;
  for (int tick = 0; tick < 200; ++tick) {
    int move = static_cast<int>(random() % 60) - 20;
    if (move == -3) move = 0;  // the one move the last-row test cannot see
    offset = std::max(0, std::min(2800, offset + move));
    s.Tick(c, offset);
    ASSERT_EQ(s.scrollY, offset + 150 - 3) << tick;
  }
  for (int y = 0; y < s.scrollY; ++y) ASSERT_TRUE(s.ImageRowIs(y, c.rows[y])) << y;
}

TEST(Stitch, TheLargestMoveIsHMinus26) {
  Content c(100, 1000, 4);
  Session s(100, 200);
  s.Start(c, 0);
  s.Tick(c, 0);
  EXPECT_EQ(s.Tick(c, 174).outcome, StitchOutcome::Append);  // H - 26
  EXPECT_EQ(s.scrollY, 174 + 197);
  const int before = s.scrollY;
  EXPECT_EQ(s.Tick(c, 174 + 175).outcome, StitchOutcome::NoMatch);  // H - 25: too far
  EXPECT_EQ(s.scrollY, before);
  // Scrolling back restores the overlap; the image continues without a seam.
  EXPECT_EQ(s.Tick(c, 174 + 100).outcome, StitchOutcome::Append);
  EXPECT_EQ(s.scrollY, 274 + 197);
  for (int y = 0; y < s.scrollY; ++y) ASSERT_TRUE(s.ImageRowIs(y, c.rows[y])) << y;
}

TEST(Stitch, UniformBandsUpToHMinus8AreCrossed) {
  for (int band : {100 - 8, 100 - 7}) {
    Content c(40, 800, 5);
    c.MakeUniform(150, band);
    Session s(40, 100);
    s.Start(c, 0);
    for (int offset = 0; offset <= 400; ++offset) s.Tick(c, offset);
    if (band == 100 - 8) {
      EXPECT_EQ(s.scrollY, 400 + 97) << "band " << band;
    } else {
      // The rows of the band agree wherever they lie in the overlap, but a place needs three
      // rows with ink: the key row stays at 149, just above the band, and the last append is
      // the one where it lies at grab row 2.
      EXPECT_EQ(s.scrollY, 147 + 97) << "band " << band;
    }
  }
}

TEST(Stitch, KeyRowSkipsFlatRowsAndNeedsNonUniformContent) {
  Content c(100, 600, 6);
  c.MakeUniform(180, 20);  // a blank bottom margin in view
  Session s(100, 200);
  s.Start(c, 0);
  const StitchDecision d = s.Tick(c, 0);
  ASSERT_EQ(d.outcome, StitchOutcome::Append);
  EXPECT_EQ(d.keyRow, 179);
  EXPECT_EQ(d.matchRow, 179);

  Content flat(100, 600, 7);
  flat.MakeUniform(0, 600);
  Session f(100, 200);
  f.Start(flat, 0);
  for (int offset = 0; offset < 50; offset += 5) EXPECT_NE(f.Tick(flat, offset).outcome, StitchOutcome::Append);
  EXPECT_EQ(f.scrollY, 200);
}

TEST(Stitch, WhatCountsAsUnchanged) {
  Content c(100, 600, 8);
  Session s(100, 200);
  s.Start(c, 0);
  s.Tick(c, 0);
  // The grab ends as the image does, row for row, at every column; or only its last row does,
  // as a band that stands still below content that moved.
  const auto outcome = [&](uint32_t column, uint32_t flip, bool blank, bool moved = false) {
    s.Grab(c, 40);
    uint32_t* imageRow = ViewRow(s.image, s.scrollY - 1);
    if (blank) std::fill(imageRow, imageRow + 100, 0x00FFFFFFu);
    for (int k = 0; k < (moved ? 1 : s.scrollY); ++k)
      for (int x = 0; x < 100; ++x) ViewRow(s.grab, 199 - k)[x] = ViewRow(s.image, s.scrollY - 1 - k)[x];
    ViewRow(s.grab, 199)[column] ^= flip;
    return DecideStitch(s.image, s.grab, 100, 200, s.scrollY, 4000, s.ImageBytes(), s.rows).outcome;
  };
  EXPECT_EQ(outcome(0, 0, false), StitchOutcome::Unchanged);
  EXPECT_NE(outcome(1, 0x5A, false), StitchOutcome::Unchanged);  // a column between the sampled ones
  EXPECT_NE(outcome(4, 0xFF000000u, false), StitchOutcome::Unchanged);  // the fourth byte
  // A blank last row is blank at every scroll position: it tells nothing.
  EXPECT_NE(outcome(0, 0, true), StitchOutcome::Unchanged);
  EXPECT_EQ(outcome(0, 0, false, true), StitchOutcome::Append);
}

TEST(Stitch, RowsAreJoinedOnlyWhereWholeRowsAgree) {
  std::mt19937 random(20);
  const auto randomMoves = [&](int count, int low, int high) {
    std::vector<int> moves(static_cast<size_t>(count));
    for (int& m : moves) m = low + static_cast<int>(random() % (high - low + 1));
    return moves;
  };
  // Text whose ink lies only between the sampled columns: every row is blank at those.
  Content between(100, 3000, 0);
  between.MakeLetters(21, true);
  Session a(100, 120);
  a.Start(between, 0);
  ExpectFollows(a, between, OffsetsFrom(0, randomMoves(150, -30, 60)));

  // Identical rows every 20 to 40 rows among distinct rows or text, scrolled on the period,
  // next to it and anywhere.
  for (int round = 0; round < 6; ++round) {
    const int period = 20 + static_cast<int>(random() % 21);
    Content c(100, 3000, 22 + round);
    if (round % 2) c.MakeLetters(23 + round, false);
    for (size_t k = 0; k < c.rows.size(); k += period) c.rows[k].assign(100, 0x00333333u), c.rows[k][7] = 0;
    std::vector<int> moves = randomMoves(60, -40, 100);
    for (size_t i = 0; i < moves.size(); i += 2) moves[i] = (i % 3 ? period : 2 * period) + static_cast<int>(i % 5) - 2;
    Session s(100, 200);
    s.Start(c, 0);
    ExpectFollows(s, c, OffsetsFrom(0, moves));
    if (HasFatalFailure()) return;
  }
}

TEST(Stitch, AFlickPastTheRangeAppendsNothing) {
  std::mt19937 random(30);
  for (int round = 0; round < 150; ++round) {
    const int w = round % 3 == 0 ? 40 : round % 3 == 1 ? 100 : 257;
    const int h = 60 + static_cast<int>(random() % 240);
    Content c(w, 2000, 0);
    c.MakeLetters(31 + round, false);
    Session s(w, h);
    const int offset = static_cast<int>(random() % 400);
    s.Start(c, offset);
    s.Tick(c, offset);
    const std::vector<uint32_t> before = s.imagePixels;
    const StitchDecision d = s.Tick(c, offset + h + static_cast<int>(random() % (2 * h)));
    ASSERT_NE(d.outcome, StitchOutcome::Append) << "round " << round;
    ASSERT_TRUE(s.imagePixels == before) << "round " << round;
  }
}

TEST(Stitch, BlankStripsAndABlinkingCaretDoNotStopGrowth) {
  std::mt19937 random(40);
  std::vector<int> moves(80);
  for (int& m : moves) m = static_cast<int>(random() % 21);
  // Padding under the last line, blank at every scroll position.
  for (int strip : {8, 19, 30}) {
    Content c(100, 2000, static_cast<unsigned>(strip));
    Session s(100, 120);
    s.overlay = [strip](const PixelView& grab, int) {
      for (int j = 120 - strip; j < 120; ++j) std::fill(ViewRow(grab, j), ViewRow(grab, j) + 100, 0x00FFFFFFu);
    };
    s.Start(c, 0);
    ExpectFollows(s, c, OffsetsFrom(0, moves), strip);
    if (HasFatalFailure()) return;
  }
  // A caret 2 x 15 at document rows 260 .. 274, shown at every other tick: it comes into view,
  // passes the image's end and stays in the overlap for a while. Then one of 40 rows, taller than
  // an eighth of the rows above most key rows while it is in view.
  for (const int tall : {15, 40}) {
    Content c(100, 2000, 41);
    Session s(100, 200);
    bool shown = false;
    const auto onCaret = [tall](int y, int x) { return y >= 260 && y < 260 + tall && x >= 50 && x < 52; };
    s.overlay = [&](const PixelView& grab, int offset) {
      shown = !shown;
      for (int j = 0; j < 200; ++j)
        for (int x = 50; x < 52 && shown; ++x)
          if (onCaret(offset + j, x)) ViewRow(grab, j)[x] = 0;
    };
    s.Start(c, 0);
    ExpectFollows(s, c, OffsetsFrom(0, moves), 0, onCaret);
    if (HasFatalFailure()) return;
  }
}

TEST(Stitch, LimitAndFirstTick) {
  // A range taller than 2000 rows stops at the first tick: 2001 > 4000 - 2001.
  Content c(20, 2100, 9);
  Session s(20, 2001);
  s.Start(c, 0);
  EXPECT_EQ(s.Tick(c, 0).outcome, StitchOutcome::LimitReached);
  EXPECT_EQ(s.scrollY, 2001);
  // Two tall monitors stacked: a range taller than the image's 4006 rows stops there too, and
  // nothing is read past the image. Rows past its last lie before its first byte, as in the
  // file mapping: there a page that cannot be read stands.
  constexpr int kW = 16, kH = 4320;
  constexpr size_t kImagePixels = size_t{kW + 6} * 4006;
  GuardedPixels past(kImagePixels, false);
  uint32_t* image = past.pixels;
  std::fill(image, image + kImagePixels, 0x00FFFFFFu);
  std::vector<uint32_t> grab(static_cast<size_t>(kW + 6) * (kH + 6));
  for (size_t i = 0; i < grab.size(); ++i) grab[i] = static_cast<uint32_t>(i * 2654435761u) & 0x00FFFFFFu;
  const PixelView imageView{image, kW + 6, 4006}, grabView{grab.data(), kW + 6, kH + 6};
  StitchRows rows;
  ResetStitchRows(rows, imageView, kW, kH, kH, 1);
  const int32_t bytes = 40 + 4 * (kW + 6) * 4006;
  EXPECT_EQ(DecideStitch(imageView, grabView, kW, kH, kH, 4000, bytes, rows).outcome, StitchOutcome::LimitReached);
  EXPECT_EQ(DecideStitchLiteral(imageView, grabView, kW, kH, kH, 4000, bytes).outcome, StitchOutcome::LimitReached);
}

TEST(Stitch, AMatchNearTheTopNeverReadsAboveTheImage) {
  // Only the image's top rows carry content, and the grab shows content row 5 in many places:
  // the places it proposes for key rows would put the grab's top above the image's row 0, where
  // a page that cannot be read stands.
  Content c(40, 400, 10);
  c.MakeUniform(12, 388);
  Session s(40, 100);
  GuardedPixels above(s.imagePixels.size(), true);
  s.image.pixels = above.pixels;
  s.Start(c, 0);
  s.scrollY = 100;
  for (int j = 0; j < 100; ++j)
    for (int x = 0; x < 40; ++x) ViewRow(s.grab, j)[x] = c.rows[j % 3 == 0 ? 5 : 200][x];
  EXPECT_EQ(DecideStitch(s.image, s.grab, 40, 100, 101, 4000, s.ImageBytes(), s.rows).outcome,
            StitchOutcome::NoMatch);
  EXPECT_EQ(DecideStitchLiteral(s.image, s.grab, 40, 100, 101, 4000, s.ImageBytes()).outcome, StitchOutcome::NoMatch);
  // The page scrolled back up over an image of distinct rows: the grab's rows 5.. are the
  // image's rows 0.., its top 5 rows were never seen. The image is cut back from its row 0, and
  // nothing is read or written above it.
  Content d(40, 400, 11);
  s.Start(d, 5);
  s.Grab(d, 0);
  const StitchDecision up = DecideStitch(s.image, s.grab, 40, 100, 100, 4000, s.ImageBytes(), s.rows);
  const StitchDecision literal = DecideStitchLiteral(s.image, s.grab, 40, 100, 100, 4000, s.ImageBytes());
  EXPECT_EQ(std::vector<int>({static_cast<int>(up.outcome), up.keyRow, up.matchRow, up.newScrollY}),
            std::vector<int>({static_cast<int>(literal.outcome), literal.keyRow, literal.matchRow, literal.newScrollY}));
  EXPECT_EQ(up.outcome, StitchOutcome::Append);
  EXPECT_EQ(up.matchRow - up.keyRow, 5);
  ApplyStitch(s.image, s.grab, 40, 100, up.keyRow, up.matchRow, s.rows);
  EXPECT_EQ(ViewRow(s.image, up.keyRow)[0], d.rows[static_cast<size_t>(up.keyRow + 5)][0]);
}

TEST(RangeRect, OrderAndHitTest) {
  int l = 300, t = 400, r = 200, b = 300;
  OrderRect(l, t, r, b);
  EXPECT_EQ(l, 200);
  EXPECT_EQ(t, 300);
  EXPECT_EQ(r, 300);
  EXPECT_EQ(b, 400);
  EXPECT_EQ(PointInRect(10, 20, 30, 40, 10, 20), 1);
  EXPECT_EQ(PointInRect(10, 20, 30, 40, 30, 40), 1);
  EXPECT_EQ(PointInRect(10, 20, 30, 40, 31, 40), 0);
  EXPECT_EQ(PointInRect(10, 20, 30, 40, 9, 25), 0);
  EXPECT_EQ(PointInRect(-20, -20, 5, 5, -1, -1), 1);
  // A drag of exactly 100 x 100 on one screen, and the same drag backwards over a virtual screen
  // whose corner lies left of and above the primary screen's origin.
  const RangeRect one = RangeFromDrag(200, 300, 300, 400, 0, 0, 3);
  EXPECT_EQ((std::vector<int>{one.left, one.top, one.right, one.bottom, one.width, one.height}),
            (std::vector<int>{197, 297, 303, 403, 100, 100}));
  const RangeRect two = RangeFromDrag(300, 400, 200, 300, -1920, -120, 3);
  EXPECT_EQ((std::vector<int>{two.left, two.top, two.right, two.bottom, two.width, two.height}),
            (std::vector<int>{-1723, 177, -1617, 283, 100, 100}));
  // Three 2560 x 2160 monitors side by side, the primary in the middle: the whole desktop.
  const RangeRect three = RangeFromDrag(7679, 2159, 0, 0, -2560, 0, 3);
  EXPECT_EQ((std::vector<int>{three.left, three.top, three.right, three.bottom, three.width, three.height}),
            (std::vector<int>{-2563, -3, 5122, 2162, 7679, 2159}));
}

namespace {
std::vector<std::string> Dashes(const std::vector<FrameBlock>& blocks) {
  std::vector<std::string> out;
  for (const FrameBlock& f : blocks)
    out.push_back(std::to_string(f.x) + "," + std::to_string(f.y) + " " + std::to_string(f.w) + "x" +
                  std::to_string(f.h) + (f.black ? " black" : " white"));
  return out;
}
}  // namespace

TEST(RangeRect, DashedFrameLayout) {
  // A 100 x 100 range grown by 3: 197, 297, 303, 403 with thickness 2. 15-pixel dashes, the
  // top and left bands just outside, the bottom and right ones just inside; black and white in
  // turn after every pair; the last dash of a run reaches past the corner.
  std::vector<FrameBlock> expected;
  for (int k = 0; k < 8; ++k) {
    expected.push_back({195 + 15 * k, 295, 15, 2, k % 2 == 0});
    expected.push_back({195 + 15 * k, 401, 15, 2, k % 2 == 0});
  }
  for (int k = 0; k < 8; ++k) {
    expected.push_back({195, 295 + 15 * k, 2, 15, k % 2 == 0});
    expected.push_back({301, 295 + 15 * k, 2, 15, k % 2 == 0});
  }
  const auto blocks = DashedFrameBlocks(197, 297, 303, 403, 2);
  EXPECT_EQ(Dashes(blocks), Dashes(expected));
  // The same frame whichever corner the rectangle was given from.
  EXPECT_EQ(Dashes(DashedFrameBlocks(303, 403, 197, 297, 2)), Dashes(expected));
  // The colour carries over into the second pass: after three pairs across, it starts white.
  const auto odd = DashedFrameBlocks(0, 0, 30, 30, 2);
  ASSERT_EQ(odd.size(), 12u);
  EXPECT_EQ(Dashes({odd[6]}), Dashes({{-2, -2, 2, 15, false}}));
  // The strips the frame's windows cover: every dash in one of them, none reaching the grab,
  // and no strip wider than its dashes (2 pixels across).
  const FrameBands bands = DashedFrameBands(303, 403, 197, 297, 2);
  for (const FrameBand& b : bands.band) {
    EXPECT_EQ(std::min(b.w, b.h), 2);
    EXPECT_FALSE(b.x < 300 && b.x + b.w > 200 && b.y < 400 && b.y + b.h > 300) << b.x << "," << b.y;
  }
  for (const FrameBlock& f : blocks) {
    int inside = 0;
    for (const FrameBand& b : bands.band)
      inside += f.x >= b.x && f.x + f.w <= b.x + b.w && f.y >= b.y && f.y + f.h <= b.y + b.h;
    EXPECT_GE(inside, 1) << f.x << "," << f.y;
  }
}

// A band that does not scroll, over the bottom (or top) of the range, up to half of it: the
// image grows by the distance scrolled, back up and down again, and holds the band once, at its
// end (or top).
TEST(Stitch, AFixedBandAppearsOnceWhereItStands) {
  constexpr int kW = 200, kH = 1074;
  const std::vector<int> moves = {24, 24, 24, 24, 24, 24, -30, 24, 24, 24, 24};
  for (bool text : {false, true}) {
    Content c(kW, 2000, 7);
    if (text) c.MakeLetters(8, false);
    for (int band : {1, 12, 200, kH / 2}) {
      for (bool plain : {true, false}) {
        for (bool top : {false, true}) {
          SCOPED_TRACE(std::string(text ? "text" : "rows") + ", band " + std::to_string(band) +
                       (plain ? " plain" : " drawn") + (top ? " at the top" : ""));
          // The band: one colour, or a status bar: text in its upper half, dividers down its whole
          // height, so that its lower rows are all alike.
          Content drawn(kW, band, 9);
          for (int j = 0; j < band; ++j)
            for (int x = 0; x < kW; ++x)
              if (plain || x < kW / 3 || x > 2 * kW / 3 || 2 * j >= band) drawn.rows[j][x] = 0x00C0C0C0u;
          for (int j = 0; j < band && !plain; ++j) drawn.rows[j][kW / 2] = drawn.rows[j][kW / 2 + 20] = 0x00404040u;
          const int from = top ? 0 : kH - band;
          Session s(kW, kH);
          s.overlay = [&](const PixelView& grab, int) {
            for (int j = 0; j < band; ++j) std::copy(drawn.rows[j].begin(), drawn.rows[j].end(), ViewRow(grab, from + j));
          };
          s.Start(c, 0);
          int offset = 0;
          for (size_t tick = 0; tick <= moves.size(); ++tick) {
            offset += tick == 0 ? 0 : moves[tick - 1];
            s.Tick(c, offset);
            ASSERT_EQ(s.scrollY, offset + kH - 3) << "tick " << tick;
            for (int y = 0; y < s.scrollY; ++y) {
              const int inBand = top ? y : y - (offset + from);
              const bool banded = inBand >= 0 && inBand < band;
              ASSERT_TRUE(s.ImageRowIs(y, banded ? drawn.rows[inBand] : c.rows[y])) << "tick " << tick << " row " << y;
            }
          }
          // Nothing moves: nothing changes.
          for (int tick = 0; tick < 3; ++tick) s.Tick(c, offset);
          EXPECT_EQ(s.scrollY, offset + kH - 3);
          EXPECT_TRUE(s.ImageRowIs(offset + kH - 4, top || band <= 3 ? c.rows[offset + kH - 4] : drawn.rows[band - 4]));
        }
      }
    }
  }
}

// Something that changes by itself (an animation, a video), a new frame at every tick, half the
// range wide: a third of the range tall on the page, a sixth standing on the screen (where the
// first grab's copy of it disagrees with the page that scrolls past it too). The image follows
// the page, every other pixel exact, and each row of the region shows one of the frames that row
// had.
TEST(Stitch, ARegionThatChangesByItselfNeitherStopsNorMisjoins) {
  constexpr int kW = 120, kH = 600, kTop = 700, kLeft = 30;
  std::mt19937 random(50);
  std::vector<int> moves(40);
  for (int& m : moves) m = 20 + static_cast<int>(random() % 81);
  for (bool onPage : {true, false}) {
    SCOPED_TRACE(onPage ? "on the page" : "on the screen");
    Content c(kW, 6000, 51);
    c.MakeLetters(52, false);
    // The frames each document row of the region was shown with (on the screen: each grab row).
    std::map<int, std::vector<std::vector<uint32_t>>> frames;
    const int tall = onPage ? kH / 3 : kH / 6;
    const auto inRegion = [&](int y) { return y >= kTop && y < kTop + tall; };
    Session s(kW, kH);
    s.overlay = [&](const PixelView& grab, int offset) {
      for (int j = 0; j < kH; ++j) {
        const int at = onPage ? offset + j : j + kTop - 200;
        if (!inRegion(at)) continue;
        for (int x = kLeft; x < kLeft + kW / 2; ++x) ViewRow(grab, j)[x] = random() & 0x00FFFFFFu;
        frames[onPage ? at : j].emplace_back(ViewRow(grab, j) + kLeft, ViewRow(grab, j) + kLeft + kW / 2);
      }
    };
    s.Start(c, 0);
    int offset = 0;
    for (size_t tick = 0; tick < moves.size(); ++tick) {
      s.Tick(c, offset += moves[tick]);
      ASSERT_EQ(s.scrollY, offset + kH - 3) << "tick " << tick;
    }
    // On the screen the region stays where the first grab showed it: rows under it were
    // gathered below it.
    for (int y = 0; y < s.scrollY; ++y) {
      const bool region = onPage ? inRegion(y) : inRegion(y + kTop - 200);
      for (int x = 0; x < kW; ++x) {
        if (!region || x < kLeft || x >= kLeft + kW / 2) {
          ASSERT_EQ(ViewRow(s.image, y)[x], c.rows[y][x]) << "row " << y;
        }
      }
      if (!region) continue;
      const std::vector<uint32_t> shown(ViewRow(s.image, y) + kLeft, ViewRow(s.image, y) + kLeft + kW / 2);
      const auto& seen = frames[y];
      ASSERT_NE(std::find(seen.begin(), seen.end(), shown), seen.end()) << "row " << y;
    }
  }
}

// A picture half the range tall that decodes (its rows change) while it lies in the overlap,
// under text that agrees, at moves up to 300 rows of a 1000-row range: followed at every tick.
TEST(Stitch, AHalfRangeChangeUnderAgreeingTextIsFollowed) {
  constexpr int kW = 200, kH = 1000, kPicTop = 1300, kPicRows = 500;
  for (int move : {24, 100, 200, 300}) {
    for (int decodeAt = 900; decodeAt <= 1300; decodeAt += 100) {
      SCOPED_TRACE("move " + std::to_string(move) + ", decoded at offset " + std::to_string(decodeAt));
      Content c(kW, 4000, 81);
      c.MakeLetters(82, false);
      Content picture(kW - 40, kPicRows, 83), preview(kW - 40, kPicRows, 84);
      Session s(kW, kH);
      s.overlay = [&](const PixelView& grab, int offset) {
        for (int j = 0; j < kH; ++j) {
          const int y = offset + j;
          if (y < kPicTop || y >= kPicTop + kPicRows) continue;
          const auto& rows = offset < decodeAt ? preview.rows : picture.rows;
          std::copy(rows[y - kPicTop].begin(), rows[y - kPicTop].end(), ViewRow(grab, j) + 20);
        }
      };
      s.Start(c, 0);
      for (int offset = move; offset + kH <= 4000 - kH; offset += move) {
        s.Tick(c, offset);
        ASSERT_EQ(s.scrollY, offset + kH - 3) << "offset " << offset;
      }
    }
  }
}

// What floats over the page (a chat button near the window's bottom right, moves larger than its
// distance to the edge; or a see-through bar across the top, its words opaque) is never left in
// the page once the range showed the rows under it: every row that leaves the range is the
// page's, and the image at the end is the page but for the button where the last screen shows
// it, or the bar where the first one does. Blocks that fade and slide into place once they come
// into view end up as they look when done, wherever they were first appended. Under the bar, the
// buttons show only in the first ticks, as a toast does: rows taken where they stood later pass
// under the bar's tint, which is no look at the page.
TEST(Stitch, TheLastLookOfEveryRowWinsAndWhatFloatsIsShownOnce) {
  constexpr int kW = 200, kH = 600, kButtonTop = kH - 70, kButtonLeft = 140, kButton = 40;
  // A smaller button above it, within its columns: a row taken under the lower one and shown
  // under this one at the end shows this one's face, and none of the other's.
  constexpr int kUpperTop = kButtonTop - 60, kUpperLeft = kButtonLeft + 6, kUpper = 28;
  struct Kind {
    int bar, toast;  // the bar's rows; the ticks the buttons show for
    bool bursts;     // moves as a wheel's bursts make them: long, a short end, a pause
  };
  for (const Kind kind : {Kind{0, 1000, false}, Kind{0, 1000, true}, Kind{60, 0, false}, Kind{60, 12, true}}) {
    const int bar = kind.bar, toast = kind.toast;
    SCOPED_TRACE("bar " + std::to_string(bar) + ", buttons for " + std::to_string(toast) + " ticks" +
                 (kind.bursts ? ", in bursts" : ""));
    std::mt19937 random(75);
    std::vector<int> moves(60);
    for (size_t k = 0; k < moves.size(); ++k) moves[k] = k % 5 == 4 ? 0 : 30 + static_cast<int>(random() % 90);  // a pause
    const int burst[] = {215, 6, 0, 0, 0, 67, 190};
    for (size_t k = 0; k < moves.size() && kind.bursts; ++k) moves[k] = burst[k % 7];
    Content c(kW, 4000, 76);
    c.MakeLetters(77, false);
    Content button(kButton, kButton, 78), upper(kUpper, kUpper, 79);
    // Blocks of the page every 700 rows, 100 rows tall: four ticks after one first shows, it is
    // done; before, it is paler and lower by 6, 4, 2 and again 2 rows (an ease's slow end: two
    // looks agree on it short of its place). Those on the first screen are done already (the page
    // was ready when the capture began).
    const auto block = [](int y) { return y % 700 >= 200 && y % 700 < 300; };
    std::map<int, int> shownSince;  // the tick each block first showed at
    int tick = 0;
    Session s(kW, kH);
    s.overlay = [&](const PixelView& grab, int offset) {
      for (int j = 0; j < kH; ++j) {
        const int y = offset + j;
        if (bar > 0 || !block(y)) continue;
        const auto since = shownSince.emplace(y / 700, tick == 0 ? -10 : tick).first->second;
        const int age = tick - since, stage = age < 3 ? age : age == 3 ? 2 : 3, low = 2 * (3 - stage);
        for (int x = 20; x < kW - 20; ++x) {
          const uint32_t shown = y - low >= 0 && block(y - low) ? c.rows[y - low][x] : 0x00FFFFFFu;
          ViewRow(grab, j)[x] = stage == 3 ? shown : shown | 0x00808080u >> stage;
        }
      }
      for (int j = 0; j < kButton && tick < toast; ++j)
        std::copy(button.rows[j].begin(), button.rows[j].end(), ViewRow(grab, kButtonTop + j) + kButtonLeft);
      for (int j = 0; j < kUpper && tick < toast; ++j)
        std::copy(upper.rows[j].begin(), upper.rows[j].end(), ViewRow(grab, kUpperTop + j) + kUpperLeft);
      // The bar's words: a logo at the left and links at the right, on its middle rows.
      for (int j = 0; j < bar; ++j)
        for (int x = 0; x < kW; ++x) {
          const bool words = j >= 20 && j < 40 && (x < 50 || (x > 120 && x % 9 < 5));
          ViewRow(grab, j)[x] = words ? 0x00102030u + static_cast<uint32_t>(x * j) : ViewRow(grab, j)[x] | 0x00404040u;
        }
    };
    s.Start(c, 0);
    int offset = 0;
    // Up to the image's row limit less a range.
    for (tick = 1; tick <= static_cast<int>(moves.size()) && offset + moves[tick - 1] + 2 * kH <= 4000; ++tick) {
      offset += moves[tick - 1];
      s.Tick(c, offset);
      ASSERT_EQ(s.scrollY, offset + kH - 3) << "tick " << tick;
      // Rows that left the range stay as they are: they must be the page's by then (the first
      // screen's wait for the finish).
      for (int y = kH; y < offset; ++y) ASSERT_TRUE(s.ImageRowIs(y, c.rows[y])) << "tick " << tick << " row " << y;
    }
    s.Finish(c, offset);
    // The last screen shows the buttons where they stand, and the page elsewhere.
    const auto shown = [&](int y, int x) {
      const int r = y - offset;
      if (bar > 0) return c.rows[y][x];
      if (r >= kButtonTop && r < kButtonTop + kButton && x >= kButtonLeft && x < kButtonLeft + kButton)
        return button.rows[r - kButtonTop][x - kButtonLeft];
      if (r >= kUpperTop && r < kUpperTop + kUpper && x >= kUpperLeft && x < kUpperLeft + kUpper)
        return upper.rows[r - kUpperTop][x - kUpperLeft];
      return c.rows[y][x];
    };
    for (int y = bar; y < s.scrollY; ++y) {
      const bool young = bar == 0 && block(y) && tick - shownSince[y / 700] < 6;  // done at 4, seen twice at 5
      for (int x = 0; x < kW && !young; ++x) ASSERT_EQ(ViewRow(s.image, y)[x], shown(y, x)) << "row " << y << " x " << x;
    }
  }
}

// Rows that repeat, as a table's alike rows and code do: the place the grab holds for real wins
// over the places a period away, scrolled by amounts on and off the period.
TEST(Stitch, RepeatedRowsJoinWhereTheyTrulyAre) {
  // Rows repeating every 20, a distinct band at rows 300 .. 309, a 400-row range scrolled 40 rows
  // a tick; at the last tick the band lies in the grab's first rows.
  Content c(100, 1000, 60);
  for (size_t k = 20; k < c.rows.size(); ++k)
    if (k < 300 || k >= 310) c.rows[k] = c.rows[k % 20];
  Session s(100, 400);
  s.Start(c, 0);
  ExpectFollows(s, c, {0, 40, 80, 120, 160, 200, 255, 295});
  if (HasFatalFailure()) return;
  // An empty grid much taller than the range: rows that repeat exactly every 27, between text,
  // scrolled at a pace off the period that changes a little from tick to tick. Where the pixels
  // cannot tell, the scroll goes on as it went.
  Content grid(100, 2000, 65);
  grid.MakeLetters(66, false);
  for (int k = 300; k < 1500; ++k)
    for (int x = 0; x < 100; ++x) grid.rows[k][x] = k % 27 == 0 || x % 25 == 0 ? 0x00C8C8C8u : 0x00FFFFFFu;
  Session g(100, 200);
  g.Start(grid, 0);
  std::vector<int> steady(44);
  for (size_t i = 0; i < steady.size(); ++i) steady[i] = 33 + static_cast<int>(i * 5 % 9);
  ExpectFollows(g, grid, OffsetsFrom(0, steady));
  if (HasFatalFailure()) return;
  // A striped table, rows of 24 alike but for a number in their first cell, and rules between.
  Content table(160, 4000, 61);
  for (size_t k = 0; k < table.rows.size(); ++k) {
    const int line = static_cast<int>(k / 24), inLine = static_cast<int>(k % 24);
    for (int x = 0; x < 160; ++x) {
      uint32_t& px = table.rows[k][x];
      const bool ink = inLine >= 6 && inLine < 16 && x >= 40 && (x * 7 + inLine * 3) % 11 < 3;
      px = inLine == 0 || x == 30 ? 0x00404040u : ink ? 0x00202020u : line % 2 ? 0x00F4F4F4u : 0x00FFFFFFu;
      if (x >= 4 && x < 24 && inLine >= 6 && inLine < 16 && ((line * 2654435761u) >> (x % 20)) & 1) px = 0x00202020u;
    }
  }
  std::mt19937 random(62);
  std::vector<int> moves(80);
  for (int& m : moves) m = random() % 3 == 0 ? 24 * static_cast<int>(1 + random() % 4) : static_cast<int>(random() % 90) - 15;
  Session t(160, 360);
  t.Start(table, 0);
  ExpectFollows(t, table, OffsetsFrom(0, moves));
  if (HasFatalFailure()) return;
  // A ledger between paragraphs: rows of 27 alike in every row but for a short number in the
  // first cell, a rule through the middle, a coloured separator and a run of empty rows, blank
  // in the middle. Rows without the number propose places whole periods away, whose few
  // disagreeing rows two blocks could set aside; scrolled back up, the grab no longer shows the
  // image's end; and once the image ends in the empty rows, the place a period away agrees
  // above its join, but not under it.
  Content ledger(200, 3000, 63);
  ledger.MakeLetters(64, false);
  for (int k = 400; k < 2600; ++k) {
    const int line = (k - 400) / 27, inLine = (k - 400) % 27;
    const bool empty = line >= 40 && line < 48, separator = line == 39 && inLine < 6;
    for (int x = 0; x < 200; ++x) {
      uint32_t& px = ledger.rows[k][x];
      const bool rule = inLine == 0 || x == 30 || (x == 100 && !empty) || x == 170;
      const bool text = !empty && inLine >= 8 && inLine < 17 && x >= 110 && x < 160 && (x * 5 + inLine * 3) % 7 < 2;
      const bool number = !empty && inLine >= 9 && inLine < 15 && x >= 8 && x < 22 &&
                          (((line + 1) * 2654435761u) >> (x % 16)) & 1;
      px = separator ? 0x002070E0u : rule ? 0x00B8C0CCu : text || number ? 0x00202020u : 0x00FFFFFFu;
    }
  }
  moves.resize(70);
  for (int& m : moves)
    m = random() % 4 == 0 ? -static_cast<int>(40 + random() % 140)
                          : random() % 3 == 0 ? 27 * static_cast<int>(1 + random() % 5) : static_cast<int>(random() % 160);
  std::vector<int> offsets = OffsetsFrom(0, moves);
  offsets.erase(std::find_if(offsets.begin(), offsets.end(), [](int o) { return o > 3000 - 360; }), offsets.end());
  // Then with a scroll bar over its right edge, as a browser shows it: arrows at both ends, and a
  // thumb that moves by a share of the page's move, so that the rows it crossed disagree and a
  // key row at the image's end shows otherwise in the grab.
  constexpr int kBar = 12, kArrow = 12, kThumb = (360 - 2 * kArrow) * 360 / 3000, kTrack = 0x00FCFCFC;
  const auto barPixel = [&](int j, int x, int offset) {
    const int top = kArrow + (360 - 2 * kArrow - kThumb) * offset / (3000 - 360);
    const int arrow = j < kArrow ? j : 359 - j, half = std::abs(2 * (x - 200 + kBar) - kBar + 1);
    const bool thumb = j >= top && j < top + kThumb && x > 200 - kBar + 1 && x < 198;
    return arrow < kArrow ? (half < arrow ? 0x00505050u : kTrack) : thumb ? 0x008B8B8Bu : kTrack;
  };
  for (const bool bar : {false, true}) {
    SCOPED_TRACE(bar ? "with a scroll bar" : "without a scroll bar");
    Session l(200, 360);
    if (bar)
      l.overlay = [&](const PixelView& grab, int offset) {
        for (int j = 0; j < 360; ++j)
          for (int x = 200 - kBar; x < 200; ++x) ViewRow(grab, j)[x] = barPixel(j, x, offset);
      };
    l.Start(ledger, 0);
    ExpectFollows(l, ledger, offsets, 0, [&](int, int x) { return bar && x >= 200 - kBar; });
    if (HasFatalFailure() || !bar) continue;
    // At the finish the bar shows once: its up arrow at the top, its track down to the last
    // screen, which shows the thumb and the down arrow where they are.
    const int last = offsets.back();
    l.Finish(ledger, last);
    for (int y = 0; y < l.scrollY; ++y)
      for (int x = 200 - kBar; x < 200; ++x) {
        const uint32_t want = y >= last + kArrow ? barPixel(y - last, x, last) : y < kArrow ? barPixel(y, x, last) : kTrack;
        ASSERT_EQ(ViewRow(l.image, y)[x], want) << "row " << y << ", column " << x << ", last screen at " << last;
      }
  }
}

// A band standing at the left or right (a table of contents, a list of contacts), a fifth of the
// range wide, its items down its whole height: the columns that move are exact.
TEST(Stitch, ABandStandingAtASideDoesNotStopTheCapture) {
  constexpr int kW = 200, kH = 500, kBand = 43, kLate = 200;
  std::mt19937 random(70);
  std::vector<int> moves(50);
  for (int& m : moves) m = static_cast<int>(random() % 70) - 10;
  for (int side = 0; side < 3; ++side) {
    // At the left or the right from the start; or a sidebar taller than the range at the right that
    // scrolls with the page until its end reaches the range's bottom, and sticks there.
    const bool left = side == 0, late = side == 2;
    SCOPED_TRACE(left ? "at the left" : late ? "sticking late" : "at the right");
    Content c(kW, 4000, 71);
    c.MakeLetters(72, false);
    Content items(kBand, kH + kLate, 73);
    for (int j = 0; j < kH + kLate; ++j)
      if (j % 20 < 8) items.rows[j].assign(kBand, 0x00E8E8E8u);
    const int from = left ? 0 : kW - kBand;
    Session s(kW, kH);
    s.overlay = [&](const PixelView& grab, int offset) {
      const int top = late ? std::min(offset, kLate) : 0;
      for (int j = 0; j < kH; ++j)
        std::copy(items.rows[top + j].begin(), items.rows[top + j].end(), ViewRow(grab, j) + from);
    };
    s.Start(c, 0);
    ExpectFollows(s, c, OffsetsFrom(0, moves), 0, [&](int, int x) { return x >= from && x < from + kBand; },
                  late ? kLate : -1);
    if (HasFatalFailure()) return;
  }
}

// The second look at the rows an append takes: rows still painting (a strip across the range)
// wait, but never more than three ticks in a row nor once the image would grow by a third of the
// range; something animating inside one region, or a page still moving smoothly, is appended at
// once.
TEST(Settle, ChangingRowsWaitBriefly) {
  constexpr int kW = 100, kH = 300;
  Content c(kW, 400, 90);
  Session s(kW, kH);
  s.Grab(c, 0);
  const GrabRows rows{200, 97};
  std::vector<uint32_t> saved;
  SaveGrabRows(s.grab, kW, rows, saved);
  const auto judge = [&](int firstRow, int rowCount, int firstColumn, int columns) {
    s.Grab(c, 0);
    for (int j = firstRow; j < firstRow + rowCount; ++j)
      for (int x = firstColumn; x < firstColumn + columns; ++x) ViewRow(s.grab, j)[x] ^= 0x00FFFFFFu;
    return JudgeSettle(s.grab, kW, kH, rows, saved, 0, kW);
  };
  EXPECT_EQ(judge(0, 0, 0, 0), Settle::Still);
  EXPECT_EQ(judge(0, 199, 0, kW), Settle::Still);  // rows the append does not take
  EXPECT_EQ(judge(210, kH / 3 - 20, 30, kW / 2), Settle::Animating);
  EXPECT_EQ(judge(280, 17, 0, kW), Settle::Changing);  // the rows a scroll uncovered, painted late
  EXPECT_EQ(judge(200, 97, 10, kW / 2 + 1), Settle::Changing);
  // The page moved on by 12 rows between the looks: two whole pictures of it, even with
  // something animating in them or a scroll bar beside the content's columns the decision was
  // made in, its thumb moved; not so when the rows moved up were painted since.
  const auto moved = [&](int shift, int paintedFrom, int animated, int bar = 0) {
    s.Grab(c, shift);
    for (int j = 0; j < animated; ++j)
      for (int x = 0; x < kW / 2; ++x) ViewRow(s.grab, 230 + j)[x] = 0x00ABCDEFu;
    for (int j = paintedFrom; j < 297; ++j) std::fill(ViewRow(s.grab, j), ViewRow(s.grab, j) + kW, 0x00FFFFFFu);
    for (int j = 0; j < kH && bar > 0; ++j) std::fill(ViewRow(s.grab, j) + kW - bar, ViewRow(s.grab, j) + kW, j % 50);
    return JudgeSettle(s.grab, kW, kH, rows, saved, 0, kW - bar);
  };
  EXPECT_EQ(moved(12, 297, 0), Settle::Moving);
  EXPECT_EQ(moved(12, 297, 40), Settle::Moving);
  EXPECT_EQ(moved(12, 297, 0, 12), Settle::Moving);
  EXPECT_EQ(moved(12, 260, 0), Settle::Changing);

  int inARow = 0;
  std::vector<bool> made;
  for (int tick = 0; tick < 6; ++tick) made.push_back(AppendNow(inARow, Settle::Changing, 20, kH));
  EXPECT_EQ(made, (std::vector<bool>{false, false, false, true, false, false}));
  // Any other tick breaks the row; a large growth or something merely animating does not wait.
  NoteTickWithoutSettle(inARow);
  EXPECT_FALSE(AppendNow(inARow, Settle::Changing, 20, kH));
  EXPECT_TRUE(AppendNow(inARow, Settle::Changing, kH / 3, kH));
  EXPECT_FALSE(AppendNow(inARow, Settle::Changing, 20, kH));
  EXPECT_TRUE(AppendNow(inARow, Settle::Animating, 20, kH));
  EXPECT_FALSE(AppendNow(inARow, Settle::Changing, -40, kH));
  EXPECT_TRUE(AppendNow(inARow, Settle::Moving, 20, kH));
}
