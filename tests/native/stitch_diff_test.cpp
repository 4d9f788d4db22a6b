// The fast search against the literal one on thousands of generated cases, single ticks and
// whole sessions whose record lives from tick to tick: every decision and, in sessions, every
// pixel of the image must be the same, with the keyed hash and with hashes so weak that most or
// all rows collide.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "capture/stitch.h"
#include "capture/stitch_rows.h"
#include "capture/stitch_rows_wide.h"
#include "capture/stitch_score.h"
#include "capture/stitch_stands.h"
#include "capture/stitch_walk.h"

namespace {

enum class Kind { Random, TextLike, Repeated, Banded, FewColours, LastColumn, TopOnly, Letters, Structure, Table };
constexpr int kKinds = 10;

// Rows of a document of the given kind; columns past the range width stay black.
std::vector<std::vector<uint32_t>> Document(Kind kind, int width, int rows, std::mt19937& random) {
  // Below 16 columns text has a handful of distinct rows, and the literal search compares
  // each with most of the grab at every key row: its time, not a case of its own.
  if ((kind == Kind::Letters || kind == Kind::Structure || kind == Kind::Table) && width < 16) kind = Kind::TextLike;
  std::vector<std::vector<uint32_t>> doc(static_cast<size_t>(rows), std::vector<uint32_t>(width, 0));
  // The last of every step-th column, the step being width / (width / 4), four to seven.
  const int quarter = width / 4, step = quarter > 0 ? width / quarter : 1;
  const int lastSampled = (width - 1) / step * step;
  // Letters: lines of 12 rows, 4 blank over 8 drawn from 26 glyphs of 3-bit rows, so that
  // rows of different lines are now and then alike. Structure: text with one row repeated every
  // period rows.
  uint32_t glyphs[26][8];
  for (auto& glyph : glyphs)
    for (uint32_t& bits : glyph) bits = random() & 7;
  const int period = 20 + static_cast<int>(random() % 21);
  std::vector<int> line(static_cast<size_t>(width / 4 + 1));
  for (int k = 0; k < rows; ++k) {
    auto& row = doc[static_cast<size_t>(k)];
    if (k % 12 == 0)
      for (int& letter : line) letter = static_cast<int>(random() % 26);
    for (int x = 0; x < width; ++x) {
      switch (kind) {
        case Kind::Random: row[x] = random(); break;
        case Kind::TextLike:
          row[x] = (k / 5) % 3 != 2 && x > width / 8 && x < width - width / 8 && random() % 9 == 0 ? 0x00202020u
                                                                                                  : 0x00FFFFFFu;
          break;
        case Kind::Repeated: row[x] = static_cast<uint32_t>((k % 7) * 131 + x % 3); break;
        case Kind::Banded: row[x] = (k / 20) % 2 ? 0x00FFFFFFu : static_cast<uint32_t>(random() & 0xFF); break;
        case Kind::FewColours: row[x] = random() % 2; break;
        // One pattern everywhere but in the last sampled column, which holds a few values: rows
        // that only a whole comparison tells apart, and many that are genuinely equal.
        case Kind::LastColumn: row[x] = x == lastSampled ? random() % 4 : static_cast<uint32_t>(x % 5); break;
        // Content in the top rows only: the matches come near the image's top.
        case Kind::TopOnly: row[x] = k < 25 ? random() % 3 : 0x00808080u; break;
        case Kind::Letters:
          row[x] = k % 12 >= 4 && (glyphs[line[static_cast<size_t>(x / 4)]][k % 12 - 4] >> (x % 4) & 1) ? 0x00202020u
                                                                                                      : 0x00FFFFFFu;
          break;
        // A table of alike rows: a period of rows the same but for a number in the first columns.
        case Kind::Table:
          row[x] = k % 12 == 0 ? 0x00404040u
                   : x < 6     ? (((k / 12) * 2654435761u) >> ((x + k) % 24) & 1 ? 0x00202020u : 0x00FFFFFFu)
                               : ((x * 5 + k % 12) % 7 < 2 ? 0x00202020u : 0x00F0F0F0u);
          break;
        case Kind::Structure:
          row[x] = k % period == 0                                  ? 0x00404040u + static_cast<uint32_t>(x % 2)
                   : (k / 5) % 3 != 2 && x > 0 && random() % 9 == 0 ? 0x00202020u
                                                                   : 0x00FFFFFFu;
          break;
      }
    }
  }
  return doc;
}

// What the screen shows besides the document's rows: nothing, a band standing at the top or at
// the left (in every grab as in the first, whose rows the image's first rows are), or a region
// that changes by itself, a third of the range tall and half of it wide, at a new place each
// time it is drawn.
enum class Over { None, TopBand, SideBand, Region };
struct Overlay {
  Over what = Over::None;
  int size = 0;  // the band's rows or columns
  uint32_t seed = 0;
  Overlay(std::mt19937& random, int w, int h) {
    what = static_cast<Over>(random() % 6 < 3 ? 0 : random() % 3 + 1);
    size = what == Over::SideBand ? 1 + static_cast<int>(random() % std::max(1, w / 4))
                                  : 1 + static_cast<int>(random() % std::max(1, h / 2));
    seed = random();
  }
  // Drawn over rows 0 .. rows - 1 of a surface of the range's width w.
  void Draw(const PixelView& v, int w, int h, int rows, std::mt19937& random) const {
    const auto band = [&](int j, int x) { return (seed + static_cast<uint32_t>(j) * 2654435761u) >> (x % 13) & 0x00C0C0C1u; };
    if (what == Over::TopBand)
      for (int j = 0; j < std::min(size, rows); ++j)
        for (int x = 0; x < w; ++x) ViewRow(v, j)[x] = band(j, x);
    if (what == Over::SideBand)
      for (int j = 0; j < rows; ++j)
        for (int x = 0; x < size; ++x) ViewRow(v, j)[x] = band(j, x);
    if (what == Over::Region) {
      const int top = static_cast<int>(random() % static_cast<uint32_t>(h)), left = static_cast<int>(random() % (w / 2 + 1));
      for (int j = top; j < std::min(rows, top + h / 3); ++j)
        for (int x = left; x < left + w / 2; ++x) ViewRow(v, j)[x] = random();
    }
  }
};

// The surfaces of one session, as they lie in memory: bottom-up, W + 6 wide.
struct Surfaces {
  int w, h;
  std::vector<uint32_t> imagePixels, grabPixels;
  PixelView image{}, grab{};
  Surfaces(int width, int height)
      : w(width), h(height), imagePixels(static_cast<size_t>(width + 6) * 4006),
        grabPixels(static_cast<size_t>(width + 6) * (height + 6)) {
    image = PixelView{imagePixels.data(), width + 6, 4006};
    grab = PixelView{grabPixels.data(), width + 6, height + 6};
  }
  int32_t ImageBytes() const { return 40 + 4 * image.width * image.height; }
};

void CopyRow(const std::vector<uint32_t>& from, uint32_t* to) { std::copy(from.begin(), from.end(), to); }

void ExpectSameDecision(const StitchDecision& fast, const StitchDecision& literal, const char* what, int round) {
  ASSERT_EQ(fast.outcome, literal.outcome) << what << " " << round;
  if (literal.outcome != StitchOutcome::Append) return;
  ASSERT_EQ(fast.keyRow, literal.keyRow) << what << " " << round;
  ASSERT_EQ(fast.matchRow, literal.matchRow) << what << " " << round;
  ASSERT_EQ(fast.newScrollY, literal.newScrollY) << what << " " << round;
}

const int kWidths[] = {3, 4, 7, 16, 17, 33, 40, 101};
const uint64_t kMasks[] = {~uint64_t{0}, 3, 0};  // the keyed hash, four values, one value

}  // namespace

// Single ticks of rounds first .. first + count - 1, each decided by the literal search and by
// the fast one after as many literal comparisons as the program allows, after a few, and after
// none, with every hash mask.
void OneTickRounds(int first, int count) {
  std::mt19937 random(8 + static_cast<unsigned>(first));
  int appends = 0, nearTop = 0, unchanged = 0, noMatches = 0, limits = 0, overlaid = 0;
  for (int round = first; round < first + count; ++round) {
    const int w = kWidths[random() % 8];
    const int h = 12 + static_cast<int>(random() % (round % 50 == 0 ? 2100 : 160));
    const Kind kind = static_cast<Kind>(random() % kKinds);
    const int docRows = 4200;
    const auto doc = Document(kind, w, docRows, random);
    Surfaces s(w, h);
    // An image of some height from the document, and a grab from somewhere near its end or,
    // now and then, of rows picked anywhere from the document's top and the image's end.
    const int scrollY = h + static_cast<int>(random() % std::max(1, std::min(3990 - h, 600)));
    for (int y = 0; y < scrollY && y < 4006; ++y) CopyRow(doc[static_cast<size_t>(y)], ViewRow(s.image, y));
    const int top = std::max(0, std::min(docRows - h, scrollY - h + static_cast<int>(random() % (2 * h + 1)) - h / 2));
    const bool picked = random() % 4 == 0;
    for (int j = 0; j < h; ++j) {
      const int k = !picked         ? top + j
                    : random() % 2 ? static_cast<int>(random() % 30)
                                   : std::max(0, scrollY - 1 - static_cast<int>(random() % 30));
      CopyRow(doc[static_cast<size_t>(k)], ViewRow(s.grab, j));
    }
    const Overlay over(random, w, h);
    over.Draw(s.image, w, h, std::min(h, scrollY), random);
    over.Draw(s.grab, w, h, h, random);

    const StitchDecision literal = DecideStitchLiteral(s.image, s.grab, w, h, scrollY, 4000, s.ImageBytes());
    // The index from the first comparison, after a few literal ones, and as the program runs it.
    for (int64_t literalSamples : {int64_t{0}, int64_t{7}, int64_t{-1}}) {
      for (uint64_t mask : kMasks) {
        StitchRows rows;
        rows.hashMask = mask;
        ResetStitchRows(rows, s.image, w, h, scrollY, static_cast<uint64_t>(round));
        const StitchDecision fast =
            DecideStitch(s.image, s.grab, w, h, scrollY, 4000, s.ImageBytes(), rows, {}, literalSamples);
        ExpectSameDecision(fast, literal, "round", round);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    appends += literal.outcome == StitchOutcome::Append;
    nearTop += literal.outcome == StitchOutcome::Append && literal.keyRow < 60;
    unchanged += literal.outcome == StitchOutcome::Unchanged;
    noMatches += literal.outcome == StitchOutcome::NoMatch;
    limits += literal.outcome == StitchOutcome::LimitReached;
    overlaid += literal.outcome == StitchOutcome::Append && over.what != Over::None;
  }
  // Every outcome is decided many times, the append not only by the early outs.
  EXPECT_GT(appends, count / 10);
  EXPECT_GT(nearTop, 2);
  EXPECT_GT(unchanged, count / 100);  // only grabs that end as the image does, row for row
  EXPECT_GT(noMatches, count / 4);
  EXPECT_GT(limits, 0);
  EXPECT_GT(overlaid, count / 40);
}

TEST(StitchDifferential, OneTickDecidesAsTheLiteralSearch) { OneTickRounds(0, 1000); }
TEST(StitchDifferential, OneTickDecidesAsTheLiteralSearchAgain) { OneTickRounds(1000, 1000); }

// Sessions first .. first + count - 1 as the program runs them (record kept from tick to tick)
// beside literal ones, each over one document, what the screen shows over it and one series of
// moves; after every tick both images must be the same.
void SessionRounds(int first, int count) {
  std::mt19937 random(81 + static_cast<unsigned>(first));
  int ticks = 0, appends = 0, limits = 0, noMatches = 0, unchanged = 0, regrown = 0, overlaid = 0;
  for (int round = first; round < first + count; ++round) {
    const int w = kWidths[random() % 8];
    const int h = round % 20 == 0 ? 2001 + static_cast<int>(random() % 50)
                  : round % 7 == 0 ? 250 + static_cast<int>(random() % 150)
                                   : 30 + static_cast<int>(random() % 170);
    const Kind kind = static_cast<Kind>(random() % kKinds);
    const int docRows = 4400 + h;
    const auto doc = Document(kind, w, docRows, random);
    const int64_t literalSamples = round % 3 == 0 ? -1 : round % 3 == 1 ? 0 : 200;
    StitchRows rows;
    rows.hashMask = kMasks[(round / 3) % 3];

    Surfaces fast(w, h), literal(w, h);
    const Overlay over(random, w, h);
    const auto grabAt = [&](int offset) {
      for (int j = 0; j < h; ++j) CopyRow(doc[static_cast<size_t>(offset + j)], ViewRow(fast.grab, j));
      over.Draw(fast.grab, w, h, h, random);
    };
    int offset = static_cast<int>(random() % 50);
    grabAt(offset);
    for (int j = 0; j < h; ++j) {
      std::copy(ViewRow(fast.grab, j), ViewRow(fast.grab, j) + w, ViewRow(fast.image, j));
      std::copy(ViewRow(fast.grab, j), ViewRow(fast.grab, j) + w, ViewRow(literal.image, j));
    }
    ResetStitchRows(rows, fast.image, w, h, h, static_cast<uint64_t>(round) * 977);
    int fastScrollY = h, literalScrollY = h;
    bool cutBack = false, grewAfter = false;

    for (int tick = 0; tick < 160; ++tick) {
      const int pick = static_cast<int>(random() % 20);
      int move = 0;
      if (pick < 8) move = 1 + static_cast<int>(random() % std::max(1, std::min(30, h - 27)));   // the usual scroll
      else if (pick < 10) move = 0;
      else if (pick < 11) move = -3;  // the last rows repeat
      else if (pick < 13) move = -1 - static_cast<int>(random() % std::max(1, h / 2));  // back up
      else if (pick < 15) move = h - 25 + static_cast<int>(random() % 60);               // too fast
      else if (pick < 17) move = std::max(1, h - 26 - static_cast<int>(random() % 10));  // the largest moves
      else if (pick < 18) move = -offset + static_cast<int>(random() % (offset + 1));    // far back
      else move = static_cast<int>(random() % std::max(1, h));
      offset = std::max(0, std::min(docRows - h, offset + move));
      grabAt(offset);
      const StitchDecision l =
          DecideStitchLiteral(literal.image, fast.grab, w, h, literalScrollY, 4000, literal.ImageBytes(), rows.lastMove);
      const StitchDecision f =
          DecideStitch(fast.image, fast.grab, w, h, fastScrollY, 4000, fast.ImageBytes(), rows, {}, literalSamples);
      ExpectSameDecision(f, l, "session", round);
      if (::testing::Test::HasFatalFailure()) return;
      ++ticks;
      if (l.outcome == StitchOutcome::Append) {
        ApplyStitchLiteral(literal.image, fast.grab, w, h, l.keyRow, l.matchRow);
        ApplyStitch(fast.image, fast.grab, w, h, f.keyRow, f.matchRow, rows);
        cutBack = cutBack || l.newScrollY < literalScrollY;
        grewAfter = grewAfter || (cutBack && l.newScrollY > literalScrollY);
        literalScrollY = l.newScrollY;
        fastScrollY = f.newScrollY;
        ++appends;
        overlaid += over.what != Over::None;
      }
      ASSERT_EQ(fastScrollY, literalScrollY) << "round " << round << " tick " << tick;
      ASSERT_TRUE(fast.imagePixels == literal.imagePixels) << "round " << round << " tick " << tick;
      noMatches += l.outcome == StitchOutcome::NoMatch;
      unchanged += l.outcome == StitchOutcome::Unchanged;
      if (l.outcome == StitchOutcome::LimitReached) {
        ++limits;
        break;  // capturing stops
      }
    }
    regrown += grewAfter;
  }
  // Most records go on through a cut back and grow the image again after it.
  EXPECT_GT(regrown, count / 2);
  // Every path is taken many times.
  EXPECT_GT(appends, 15 * count);
  EXPECT_GT(noMatches, 2 * count);
  EXPECT_GT(unchanged, count);
  EXPECT_GT(limits, count / 24);
  EXPECT_GT(ticks, 80 * count);
  EXPECT_GT(overlaid, 3 * count);
}

TEST(StitchDifferential, SessionsStayIdenticalTickByTick) { SessionRounds(0, 60); }
TEST(StitchDifferential, SessionsStayIdenticalTickByTickAgain) { SessionRounds(60, 60); }

// A record that was never reset for this image, or describes an earlier one, must neither be
// trusted for the rows' hashes nor for which rows are black.
TEST(StitchDifferential, ARecordOfAnotherImageStartsOver) {
  std::mt19937 random(5);
  const int w = 40, h = 60;
  const auto doc = Document(Kind::Random, w, 600, random), earlier = Document(Kind::Random, w, 600, random);
  Surfaces a(w, h), b(w, h), reference(w, h);
  for (int y = 0; y < 300; ++y) CopyRow(earlier[static_cast<size_t>(y)], ViewRow(a.image, y));
  for (Surfaces* s : {&b, &reference})
    for (int y = 0; y < 300; ++y) CopyRow(doc[static_cast<size_t>(y)], ViewRow(s->image, y));
  // Rows below the image that are not black: a fill must not be skipped for them.
  for (Surfaces* s : {&b, &reference})
    for (int y = 300; y < 500; ++y) ViewRow(s->image, y)[w + 2] = 0x00ABCDEFu;
  for (int j = 0; j < h; ++j) CopyRow(doc[static_cast<size_t>(260 + j)], ViewRow(b.grab, j));

  StitchRows rows;
  ResetStitchRows(rows, a.image, w, h, 300, 3);
  EXPECT_EQ(DecideStitch(a.image, a.grab, w, h, 300, 4000, a.ImageBytes(), rows, {}, 0).outcome,
            StitchOutcome::NoMatch);
  // The same record on another image of the same size, looking every key row up.
  const StitchDecision l = DecideStitchLiteral(reference.image, b.grab, w, h, 300, 4000, reference.ImageBytes());
  const StitchDecision f = DecideStitch(b.image, b.grab, w, h, 300, 4000, b.ImageBytes(), rows, {}, 0);
  ExpectSameDecision(f, l, "other image", 0);
  ASSERT_EQ(l.outcome, StitchOutcome::Append);
  ApplyStitchLiteral(reference.image, b.grab, w, h, l.keyRow, l.matchRow);
  ApplyStitch(b.image, b.grab, w, h, f.keyRow, f.matchRow, rows);
  EXPECT_TRUE(b.imagePixels == reference.imagePixels);

  // An append on an image the record has never seen fills every row the literal one fills.
  Surfaces c(w, h);
  std::copy(reference.imagePixels.begin(), reference.imagePixels.end(), c.imagePixels.begin());
  std::copy(b.grabPixels.begin(), b.grabPixels.end(), c.grabPixels.begin());
  for (int y = 350; y < 500; ++y) ViewRow(c.image, y)[1] = 0x00123456u;
  std::vector<uint32_t> expected = c.imagePixels;
  ApplyStitchLiteral(PixelView{expected.data(), w + 6, 4006}, c.grab, w, h, 280, 10);
  ApplyStitch(c.image, c.grab, w, h, 280, 10, rows);
  EXPECT_TRUE(c.imagePixels == expected);
}

// The keyed hash as it is defined: the pairs of columns, each pixel with its key added, their
// products summed; an odd last pixel paired with its next key made odd.
uint64_t PlainHash(const uint32_t* row, int width, const uint32_t* keys) {
  uint64_t sum = 0;
  for (int c = 0; c < width; c += 2) {
    const uint32_t a = row[c] + keys[c], b = c + 1 < width ? row[c + 1] + keys[c + 1] : keys[c + 1] | 1u;
    sum += uint64_t{a} * b;
  }
  return sum;
}

// Both ways rows are read (AVX2 where the processor has it, 16 bytes at a time): the hash as
// defined, every column counting in it, and comparisons that see a difference in any column.
TEST(StitchHash, EveryColumnCounts) {
  std::mt19937 random(12);
  std::vector<uint32_t> keys(2000);
  for (uint32_t& k : keys) k = random();
  for (const bool wide : {false, true}) {
    stitching::UseWideRows(wide);
    for (int width : {1, 3, 4, 7, 8, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 100, 1914}) {
      // Exactly width pixels: a read past the range is caught by the sanitizer.
      std::vector<uint32_t> row(static_cast<size_t>(width));
      for (uint32_t& px : row) px = random();
      const uint64_t base = KeyedRowHash(row.data(), width, keys.data());
      ASSERT_EQ(base, PlainHash(row.data(), width, keys.data())) << "width " << width;
      for (int x = 0; x < width; ++x) {
        std::vector<uint32_t> changed = row;
        changed[static_cast<size_t>(x)] ^= 0x80000001u;
        ASSERT_NE(KeyedRowHash(changed.data(), width, keys.data()), base) << "width " << width << " column " << x;
      }
      // A span's hash, made from the row's or from its own columns, is the same, and every column
      // of the span counts in it and no other; a span's rows agree but where a column in it
      // differs, and the columns unlike lie from the first to the last that differs.
      using stitching::Span;
      for (const Span span : {Span{0, width}, Span{1, width}, Span{0, width - 1}, Span{width / 3, width - width / 5},
                              Span{width / 2, width / 2 + 1}}) {
        if (span.end <= span.begin) continue;
        const uint64_t hash = stitching::SpanHash(row.data(), span, keys.data());
        ASSERT_EQ(stitching::SpanHashFrom(base, row.data(), width, span, keys.data()), hash) << "width " << width;
        for (int x = 0; x < width; ++x) {
          std::vector<uint32_t> changed = row;
          changed[static_cast<size_t>(x)] ^= 0x80000001u;
          const bool inside = x >= span.begin && x < span.end;
          ASSERT_EQ(stitching::SpanHash(changed.data(), span, keys.data()) != hash, inside)
              << "width " << width << " column " << x << " span " << span.begin << ".." << span.end;
          ASSERT_EQ(stitching::RowsEqual(changed.data(), row.data(), span), !inside) << "width " << width << " column " << x;
          const int far = span.end - 1 - (x - span.begin);
          if (inside && far != x) changed[static_cast<size_t>(far)] ^= 0x00000100u;
          const Span unlike = stitching::UnlikeWithin(changed.data(), row.data(), span);
          const Span want = inside ? Span{std::min(x, far), std::max(x, far) + 1} : Span{span.end, span.end};
          ASSERT_TRUE(unlike == want)
              << "width " << width << " column " << x << " span " << span.begin << ".." << span.end;
          // Blocks where nothing stood are passed over up to the one where column x did: other
          // columns show what they showed before too, but as the content or the ground does.
          if (!stitching::WideRows()) continue;
          const uint32_t ground = 0x00FFFFFFu;
          std::vector<uint32_t> before = row, content(row.size());
          for (size_t k = 0; k < row.size(); ++k) {
            changed[k] = k % 3 == 0 ? row[k] : ~row[k];
            content[k] = k % 6 == 0 ? row[k] : row[k] ^ 1;
            if (k % 6 == 3) changed[k] = before[k] = ground;
          }
          const size_t at = static_cast<size_t>(x);
          changed[at] = before[at] = ground ^ 2;
          content[at] = ground;
          const int blocks = (span.end - span.begin) / 32, stood = inside ? (x - span.begin) / 32 : blocks;
          ASSERT_EQ(stitching::NothingStoodWide(changed.data(), before.data(), content.data(), ground, span.begin, span.end),
                    span.begin + 32 * std::min(stood, blocks))
              << "width " << width << " column " << x;
        }
      }
    }
  }
  stitching::UseWideRows(true);
  // Rows judged on their hashes four at a time get the facts as defined: the masked hash, equal
  // or not, and the row's uniformity, whichever lane they fall in.
  if (!stitching::WideRows()) return;
  const uint64_t mask = 0xFFFFFFFFFFFFull;
  std::vector<uint64_t> image(37), grab(37);
  std::vector<uint8_t> uniform(37), out(37);
  for (size_t k = 0; k < image.size(); ++k) {
    image[k] = (uint64_t{random()} << 32 | random()) | (k % 5 == 0 ? 0xABCD000000000000ull : 0);
    grab[k] = k % 3 == 0 ? (image[k] ^ 1) & mask : image[k] & mask;
    uniform[k] = static_cast<uint8_t>(k % 7 % 3);
  }
  for (int n : {0, 3, 4, 5, 36, 37}) {
    const int done = stitching::HashedFactsWide(image.data(), grab.data(), uniform.data(), mask, n, out.data());
    ASSERT_EQ(done, n / 4 * 4);
    for (int k = 0; k < done; ++k)
      ASSERT_EQ(out[k], stitching::RowFacts((image[k] & mask) == grab[k], uniform[k] != 0)) << "n " << n << " row " << k;
  }
  // The search for a hash passes over no row that has it, masked, at any lane, and stops at a
  // block of 8 that has it or with fewer than 8 rows left.
  for (int from = 0; from < 9; ++from)
    for (int to = from - 1; to < 37; ++to)
      for (int at = from - 1; at <= to; ++at) {
        const uint64_t hash = at >= from ? image[static_cast<size_t>(at)] & mask : 0x1234;
        const int y = stitching::HashesUnlikeWide(image.data(), mask, hash, from, to);
        ASSERT_TRUE(y <= to && y >= at && (y - 7 < from || y - 7 <= at)) << from << " " << to << " " << at << ": " << y;
      }
}

// Appends at every place, the image's bottom and the grab's last rows included, one after
// another on the same record: the pixels are the literal append's, and every row the record
// says it knows has the hash and uniformity of its pixels, and the same pixels as the first row
// of its class.
TEST(StitchDifferential, AppendsWriteTheLiteralPixelsAndTheRecordFollows) {
  std::mt19937 random(33);
  for (int w : {7, 16, 40, 101}) {
    const int h = 60;
    const auto doc = Document(Kind::Banded, w, 400, random);
    Surfaces fast(w, h), literal(w, h);
    for (int y = 0; y < 100; ++y) {
      CopyRow(doc[static_cast<size_t>(y)], ViewRow(fast.image, y));
      CopyRow(doc[static_cast<size_t>(y)], ViewRow(literal.image, y));
    }
    StitchRows rows;
    ResetStitchRows(rows, fast.image, w, h, 100, 7);
    for (int append = 0; append < 300; ++append) {
      for (int j = 0; j < h; ++j) CopyRow(doc[random() % 400], ViewRow(fast.grab, j));
      const int keyRow = static_cast<int>(append % 5 == 0 ? 4005 - random() % 80 : random() % 4000);
      const int matchRow = append % 4 == 0 ? static_cast<int>(random() % 4) : static_cast<int>(random() % h);
      ApplyStitchLiteral(literal.image, fast.grab, w, h, keyRow, matchRow);
      ApplyStitch(fast.image, fast.grab, w, h, keyRow, matchRow, rows);
      ASSERT_TRUE(fast.imagePixels == literal.imagePixels) << "width " << w << " append " << append;
      // Up to the new end (below grab row H - 4) the image shows the grab, but for the rows the
      // append says it left black.
      const int end = keyRow - matchRow + h - kStitchBorder, fill = FillRowsAtEnd(fast.grab, h, matchRow);
      for (int y = keyRow; y < std::min(end, 4006); ++y) {
        const uint32_t* row = ViewRow(fast.image, y);
        const std::vector<uint32_t> black(static_cast<size_t>(w), 0u);
        const uint32_t* want = y >= end - fill ? black.data() : ViewRow(fast.grab, matchRow + y - keyRow);
        ASSERT_TRUE(std::equal(row, row + w, want)) << "width " << w << " append " << append << " row " << y;
      }
      ASSERT_LE(rows.knownRows, 4006);
      for (int y = 0; y < rows.knownRows; ++y) {
        const uint32_t* row = ViewRow(fast.image, y);
        ASSERT_EQ(rows.hash[static_cast<size_t>(y)], KeyedRowHash(row, w, rows.keys.data()))
            << "width " << w << " row " << y;
        // Uniform: the middle half of the row, columns W / 4 .. 3 W / 4 - 1, all alike.
        bool uniform = true;
        for (int x = w / 4; x < 3 * w / 4; ++x) uniform = uniform && row[x] == row[w / 4];
        ASSERT_EQ(rows.uniform[static_cast<size_t>(y)] != 0, uniform) << "width " << w << " row " << y;
        const int same = rows.sameAs[static_cast<size_t>(y)];
        ASSERT_TRUE(same <= y && rows.sameAs[static_cast<size_t>(same)] == same &&
                    std::equal(row, row + w, ViewRow(fast.image, same)))
            << "width " << w << " row " << y;
      }
    }
  }
}

namespace {

// The decision for a tiny range worked out the long way, from the rules as written: every offset
// judged on its whole overlap pixel for pixel, with no key row looked up in an index, no place
// judged once for all key rows and no early exit; then the first key row (those the last screen
// showed before the others, rare ones before common ones) whose places include one that
// qualifies picks the best of them, and of a scroll back up when that one qualifies only with
// blocks set aside.
StitchDecision TheLongWay(const Surfaces& s, int scrollY, int lastMove) {
  using namespace stitching;
  const int w = s.w, h = s.h;
  const auto uniform = [&](const uint32_t* row) {
    return std::all_of(row + w / 4, row + 3 * w / 4, [&](uint32_t p) { return p == row[w / 4]; });
  };
  const auto equal = [&](int y, int g) { return std::equal(ViewRow(s.image, y), ViewRow(s.image, y) + w, ViewRow(s.grab, g)); };
  std::map<int, Place> qualified;
  for (int o = 1 - h; o < scrollY; ++o) {
    Place p;
    p.offset = o;
    p.lo = std::max(0, -o);
    p.hi = std::min(h - 1, scrollY - 1 - o);
    const int n = p.hi - p.lo + 1;
    if (n < kSmallestOverlap) continue;
    std::vector<uint8_t> facts(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
      facts[k] = RowFacts(equal(p.lo + k + o, p.lo + k), uniform(ViewRow(s.image, p.lo + k + o)));
      if (facts[k] & kInk) p.join = p.lo + k;
    }
    ScoreScratch scratch;
    if (p.join < 0 || !Confirms(facts.data(), n, 0, h, p.setAside, scratch)) continue;
    p.qualifies = true;
    for (int k = 0; k < n; ++k)
      if (!(facts[k] & kAgree)) p.unlike.push_back(p.lo + k);
    qualified[o] = p;
  }
  const Motion motion{LastOffsetOf(scrollY, h), lastMove};
  const int expected = motion.lastOffset + motion.lastMove;
  const RowRange weighed{std::max(0, -expected), std::min(h - 1, scrollY - 1 - expected)};
  // Every offset proposed is judged once, and judging takes the rows of its overlap from the
  // tick's allowance. A key row shown by too many grab rows proposes the places nearest the one
  // the motion expects, and waits for the others; a grab row shown by too many image rows
  // proposes no scroll back.
  std::set<int> proposed;
  std::vector<Place> places;
  int64_t rowsLeft = int64_t{kPlaceRowsPerTick} * h;
  const auto propose = [&](const std::vector<int>& offsets) {
    for (const int o : offsets) {
      if (!proposed.insert(o).second) continue;
      const int n = std::min(h - 1, scrollY - 1 - o) - std::max(0, -o) + 1;
      if (n >= kSmallestOverlap && (rowsLeft -= n) < 0) return false;
      if (qualified.count(o)) places.push_back(qualified[o]);
    }
    return true;
  };
  const StitchDecision none{StitchOutcome::NoMatch, 0, 0, scrollY};
  // The rows the screen showed at the last append first, rare key rows before common ones.
  const int shown = std::max(0, motion.lastOffset);
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = pass < 2 ? scrollY - 1 : shown - 1; y >= (pass < 2 ? shown : 0); --y) {
      if (uniform(ViewRow(s.image, y))) continue;
      std::vector<int> offsets;
      for (int r = h - 1; r >= 0; --r)
        if (equal(y, r)) offsets.push_back(y - r);
      if ((offsets.size() > static_cast<size_t>(kMostAlikeRows)) != (pass % 2 == 1)) continue;
      if (pass % 2 == 1) {
        std::sort(offsets.begin(), offsets.end(), [&](int a, int b) {
          return std::abs(a - expected) != std::abs(b - expected) ? std::abs(a - expected) < std::abs(b - expected)
                                                                  : a > b;
        });
        offsets.resize(kMostAlikeRows);
        std::sort(offsets.begin(), offsets.end());
      }
      if (!propose(offsets)) return none;
      if (places.empty()) continue;
      if (places[Best(places, weighed, motion)].setAside)
        for (int g = h - 1, asked = 0, looks = 0; g >= 0 && asked < 8 && looks < 32; --g) {
          if (uniform(ViewRow(s.grab, g))) continue;
          ++looks;
          offsets.clear();
          for (int i = y - h + g; i >= 0; --i)
            if (equal(i, g)) offsets.push_back(i - g);
          if (offsets.size() > static_cast<size_t>(kMostAlikeRows)) continue;
          ++asked;
          if (!propose(offsets)) return none;
        }
      const Place& king = places[Best(places, weighed, motion)];
      return StitchDecision{StitchOutcome::Append, king.join + king.offset, king.join, king.offset + h - kStitchBorder};
    }
  }
  return none;
}

}  // namespace

// Three places with nested overlaps, each disagreeing less than the next on the rows those two
// share (A beats B, B beats C, C beats A): whatever order they were judged in and whatever rows
// they are weighed on, the same one wins and it beats the two others.
TEST(StitchScore, OnePlaceBeatsAllInEveryOrder) {
  using namespace stitching;
  const auto place = [](int offset, int hi, std::vector<int> disagreeing) {
    Place p;
    p.offset = offset, p.lo = 0, p.hi = hi, p.qualifies = true, p.unlike = disagreeing;
    return p;
  };
  // On rows 0 .. 100 C disagrees less than A and B less than C; on rows 0 .. 130 A less than B.
  std::vector<Place> places = {place(100, 160, {1, 2, 3}), place(130, 130, {1, 101, 102, 103}),
                               place(160, 100, {1, 2})};
  const Motion motion{90, 20};
  for (const RowRange weighed : {RowRange{0, 160}, RowRange{0, 130}, RowRange{0, 100}, RowRange{0, 20}}) {
    std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) { return a.offset < b.offset; });
    int winner = -1;
    do {
      const size_t king = Best(places, weighed, motion);
      if (winner < 0) winner = places[king].offset;
      ASSERT_EQ(places[king].offset, winner);
      for (const Place& other : places)
        EXPECT_TRUE(&other == &places[king] || Beats(places[king], other, weighed, motion));
    } while (std::next_permutation(places.begin(), places.end(),
                                   [](const Place& a, const Place& b) { return a.offset < b.offset; }));
  }
}

// Tiny ranges over documents full of rows alike, with something changing by itself now and
// then, at every kind of move and last move: the search decides as the long way does. Frames
// the long way leaves out (nothing new, a band standing at the top, the bottom or a side, a
// scroll bar) are left to the other tests.
TEST(StitchReference, TinyRangesDecideAsTheLongWay) {
  std::mt19937 random(90);
  int compared = 0, appends = 0;
  const Kind kinds[] = {Kind::Table, Kind::Repeated, Kind::Letters, Kind::Structure, Kind::FewColours, Kind::TextLike};
  for (int round = 0; round < 3000; ++round) {
    const int w = 16 + static_cast<int>(random() % 9), h = 30 + static_cast<int>(random() % 40);
    const auto doc = Document(kinds[random() % 6], w, 600, random);
    Surfaces s(w, h);
    const int scrollY = h + static_cast<int>(random() % 200);
    for (int y = 0; y < scrollY; ++y) CopyRow(doc[static_cast<size_t>(y)], ViewRow(s.image, y));
    const int top = std::max(0, scrollY - h + 3 + static_cast<int>(random() % (2 * h)) - h);
    for (int j = 0; j < h; ++j) CopyRow(doc[static_cast<size_t>(top + j)], ViewRow(s.grab, j));
    if (random() % 3 == 0) Overlay(random, w, h).Draw(s.grab, w, h, h, random);
    const int lastMove = static_cast<int>(random() % (2 * h)) - h;

    using namespace stitching;
    StitchDecision d{};
    int band = 0;
    const Span content = ContentColumns(s.image, s.grab, w, h, scrollY);
    const int topBand = TopBandOf(s.image, ScreenSeen{}, s.grab, h, scrollY, content);
    if (!(content == Span{0, w}) || topBand > 0 ||
        !NeedsSearch(s.image, s.grab, w, h, scrollY, 4000, s.ImageBytes(),
                     EndsAlikeOf(s.image, s.grab, w, h, scrollY, s.ImageBytes()), topBand, d, band) || band > 0 ||
        !(StandingSides(FrameFor(s.image, s.grab, ScreenSeen{}, w, h, scrollY, topBand, content, lastMove)) == content))
      continue;
    const StitchDecision expected = TheLongWay(s, scrollY, lastMove);
    ExpectSameDecision(DecideStitchLiteral(s.image, s.grab, w, h, scrollY, 4000, s.ImageBytes(), lastMove), expected,
                       "the literal search, round", round);
    if (HasFatalFailure()) return;
    ++compared;
    appends += expected.outcome == StitchOutcome::Append;
  }
  EXPECT_GT(compared, 1500);
  EXPECT_GT(appends, 600);
}
