#include "capture/stitch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <random>
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
};

// The two surfaces of a session, laid out as in memory: bottom-up, W + 6 wide.
struct Session {
  int w, h;
  std::vector<uint32_t> imagePixels, grabPixels;
  PixelView image, grab;
  int scrollY;
  StitchRows rows;

  Session(int width, int height)
      : w(width), h(height), imagePixels(static_cast<size_t>(width + 6) * 4006),
        grabPixels(static_cast<size_t>(width + 6) * (height + 6)) {
    image = PixelView{imagePixels.data(), width + 6, 4006};
    grab = PixelView{grabPixels.data(), width + 6, height + 6};
    scrollY = height;
  }
  int32_t ImageBytes() const { return 40 + 4 * image.width * image.height; }
  // The grab while the document is scrolled down by offset rows.
  void Grab(const Content& c, int offset) {
    for (int j = 0; j < h; ++j)
      for (int x = 0; x < w; ++x) ViewRow(grab, j)[x] = c.rows[offset + j][x];
  }
  // The first grab seeds the image.
  void Start(const Content& c, int offset) {
    Grab(c, offset);
    for (int j = 0; j < h; ++j)
      for (int x = 0; x < w; ++x) ViewRow(image, j)[x] = c.rows[offset + j][x];
    scrollY = h;
    ResetStitchRows(rows, image, w, h, h, 1);
  }
  StitchDecision Tick(const Content& c, int offset) {
    Grab(c, offset);
    const StitchDecision d = DecideStitch(image, grab, w, h, scrollY, 4000, ImageBytes(), rows);
    if (d.outcome == StitchOutcome::Append) {
      ApplyStitch(image, grab, w, h, d.keyRow, d.matchRow, rows);
      scrollY = d.newScrollY;
    }
    return d;
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

}  // namespace

TEST(StitchColumns, StepsByWidth) {
  const struct {
    int width, quarter, step, firstMiddle;
  } cases[] = {{100, 25, 4, 26}, {16, 4, 4, 5}, {17, 4, 4, 5}, {1914, 478, 4, 479}, {7, 1, 7, 2}, {3, 0, 1, 1}, {2, 0, 1, 1}};
  for (const auto& c : cases) {
    const StitchColumns cols = StitchColumnsFor(c.width);
    EXPECT_EQ(cols.quarter, c.quarter) << c.width;
    EXPECT_EQ(cols.step, c.step) << c.width;
    EXPECT_EQ(cols.firstMiddle, c.firstMiddle) << c.width;
  }
  EXPECT_FLOAT_EQ(StitchColumnsFor(100).scanBound, 74.0f);
}

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

  // Nothing moved since: the image re-anchors where it is.
  EXPECT_EQ(s.Tick(c, 10).outcome, StitchOutcome::Append);
  EXPECT_EQ(s.scrollY, 207);
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

TEST(Stitch, UniformBandsUpToHMinus27AreCrossed) {
  for (int band : {100 - 27, 100 - 26}) {
    Content c(40, 800, 5);
    c.MakeUniform(150, band);
    Session s(40, 100);
    s.Start(c, 0);
    for (int offset = 0; offset <= 400; ++offset) s.Tick(c, offset);
    if (band == 100 - 27) {
      EXPECT_EQ(s.scrollY, 400 + 97) << "band " << band;
    } else {
      // The key row stays at 149, just above the band, and cannot be confirmed once it lies
      // above grab row 22: the last append is at offset 127.
      EXPECT_EQ(s.scrollY, 127 + 97) << "band " << band;
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

TEST(Stitch, WhatCountsAsEqual) {
  Content c(100, 600, 8);
  Session s(100, 200);
  s.Start(c, 0);
  s.Tick(c, 0);
  // The document moved, but the last rows differ only in columns that are not sampled.
  Content moved = c;
  for (int k = 0; k < 600; ++k) {
    moved.rows[k] = c.rows[196];
    moved.rows[k][1] ^= static_cast<uint32_t>(k + 1);
  }
  s.Grab(moved, 0);
  const PixelView& g = s.grab;
  for (int x = 0; x < 100; ++x) ViewRow(g, 199)[x] = ViewRow(s.image, s.scrollY - 1)[x];
  ViewRow(g, 199)[1] ^= 0x5A;
  const auto outcome = [&] { return DecideStitch(s.image, g, 100, 200, s.scrollY, 4000, s.ImageBytes(), s.rows).outcome; };
  EXPECT_EQ(outcome(), StitchOutcome::Unchanged);
  // The fourth byte counts.
  ViewRow(g, 199)[4] ^= 0xFF000000u;
  EXPECT_NE(outcome(), StitchOutcome::Unchanged);
}

TEST(Stitch, LimitAndFirstTick) {
  // A range taller than 2000 rows stops at the first tick: 2001 > 4000 - 2001.
  Content c(20, 2100, 9);
  Session s(20, 2001);
  s.Start(c, 0);
  EXPECT_EQ(s.Tick(c, 0).outcome, StitchOutcome::LimitReached);
  EXPECT_EQ(s.scrollY, 2001);
}

TEST(Stitch, AMatchNearTheTopNeverReadsAboveTheImage) {
  // Only the image's top rows carry content; the match for key row 5 would move it above row 0.
  Content c(40, 400, 10);
  c.MakeUniform(12, 388);
  Session s(40, 100);
  s.Start(c, 0);
  s.scrollY = 100;
  // A grab that shows content row 5 in three places keeps the count going.
  for (int j = 0; j < 100; ++j)
    for (int x = 0; x < 40; ++x) ViewRow(s.grab, j)[x] = c.rows[j % 3 == 0 ? 5 : 200][x];
  const StitchDecision d = DecideStitch(s.image, s.grab, 40, 100, 101, 4000, s.ImageBytes(), s.rows);
  EXPECT_EQ(d.outcome, StitchOutcome::NoMatch);
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
}

TEST(RangeRect, DashedFrameLayout) {
  // A 100 x 100 range grown by 3: 197, 297, 303, 403 with thickness 2.
  const auto blocks = DashedFrameBlocks(197, 297, 303, 403, 2);
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks[0].x, 195);
  EXPECT_EQ(blocks[0].y, 295);
  EXPECT_EQ(blocks[0].w, 15);
  EXPECT_EQ(blocks[0].h, 2);
  EXPECT_TRUE(blocks[0].black);
  EXPECT_EQ(blocks[1].y, 401);  // inside the bottom edge
  EXPECT_TRUE(blocks[1].black);
  EXPECT_FALSE(blocks[2].black);  // the colour flips after every pair
  // No band touches the grabbed rectangle (200..299, 300..399).
  for (const FrameBlock& f : blocks) {
    const bool overlaps = f.x < 300 && f.x + f.w > 200 && f.y < 400 && f.y + f.h > 300;
    EXPECT_FALSE(overlaps) << f.x << "," << f.y;
  }
  // The same frame whichever corner the rectangle was given from.
  const auto reversed = DashedFrameBlocks(303, 403, 197, 297, 2);
  ASSERT_EQ(reversed.size(), blocks.size());
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
