// The indexed search against the literal one on thousands of generated cases: every decision
// must be the same, with a strong hash and with one so weak that most rows collide.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "capture/stitch.h"

namespace {

uint64_t WeakHash(const uint32_t* row, int, int) { return row[0] & 3; }

enum class Kind { Random, TextLike, Repeated, Banded, FewColours };

// Rows of a document of the given kind; columns past the range width stay black.
std::vector<std::vector<uint32_t>> Document(Kind kind, int width, int rows, std::mt19937& random) {
  std::vector<std::vector<uint32_t>> doc(static_cast<size_t>(rows), std::vector<uint32_t>(width, 0));
  for (int k = 0; k < rows; ++k) {
    auto& row = doc[static_cast<size_t>(k)];
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
      }
    }
  }
  return doc;
}

}  // namespace

TEST(StitchDifferential, IndexedSearchDecidesAsTheLiteralOne) {
  std::mt19937 random(8);
  const int widths[] = {3, 4, 7, 16, 40, 101};
  int cases = 0, appends = 0;
  for (int round = 0; round < 2000; ++round) {
    const int w = widths[random() % 6];
    const int h = 12 + static_cast<int>(random() % (round % 50 == 0 ? 2100 : 160));
    const Kind kind = static_cast<Kind>(random() % 5);
    const int docRows = 4200;
    const auto doc = Document(kind, w, docRows, random);
    std::vector<uint32_t> imagePixels(static_cast<size_t>(w + 6) * 4006, 0), grabPixels(static_cast<size_t>(w + 6) * (h + 6), 0);
    const PixelView image{imagePixels.data(), w + 6, 4006};
    const PixelView grab{grabPixels.data(), w + 6, h + 6};
    // An image of some height from the document, and a grab from somewhere near its end.
    const int scrollY = h + static_cast<int>(random() % std::max(1, std::min(3990 - h, 600)));
    for (int y = 0; y < scrollY && y < 4006; ++y)
      std::copy(doc[static_cast<size_t>(y)].begin(), doc[static_cast<size_t>(y)].end(), ViewRow(image, y));
    const int top = std::max(0, std::min(docRows - h, scrollY - h + static_cast<int>(random() % (2 * h + 1)) - h / 2));
    for (int j = 0; j < h; ++j)
      std::copy(doc[static_cast<size_t>(top + j)].begin(), doc[static_cast<size_t>(top + j)].end(), ViewRow(grab, j));
    const int32_t bytes = 40 + 4 * image.width * image.height;

    const StitchDecision literal = DecideStitchLiteral(image, grab, w, h, scrollY, 4000, bytes);
    // The index from the first row, after a few literal rows, and as the program runs it.
    for (int literalRows : {0, 7, -1})
    for (RowHash hash : {static_cast<RowHash>(SampledColumnsHash), static_cast<RowHash>(WeakHash)}) {
      const StitchDecision fast = DecideStitch(image, grab, w, h, scrollY, 4000, bytes, hash, literalRows);
      ASSERT_EQ(fast.outcome, literal.outcome) << "round " << round;
      ASSERT_EQ(fast.keyRow, literal.keyRow) << "round " << round;
      ASSERT_EQ(fast.matchRow, literal.matchRow) << "round " << round;
      ASSERT_EQ(fast.newScrollY, literal.newScrollY) << "round " << round;
    }
    ++cases;
    appends += literal.outcome == StitchOutcome::Append;
  }
  EXPECT_EQ(cases, 2000);
  EXPECT_GT(appends, 200);  // the cases reach the append, not only the early outs
}
