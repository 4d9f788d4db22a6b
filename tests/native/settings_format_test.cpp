#include "settings/settings_format.h"

#include <gtest/gtest.h>

namespace {
std::string Line(const std::string& content, int n) { return ExtractLine(content.data(), content.size(), n); }
WindowPos Pos(const std::string& content) { return ParseMainWndPos(content.data(), content.size()); }
}  // namespace

TEST(ExtractLine, BreaksAndDroppedBytes) {
  EXPECT_EQ(Line("abc\r\ndef", 0), "abc");
  EXPECT_EQ(Line("abc\r\ndef", 1), "def");
  EXPECT_EQ(Line("abc\r\ndef", 2), "");
  EXPECT_EQ(Line("a\tb", 0), "ab");
  EXPECT_EQ(Line("a\n\nb", 1), "b");      // LF LF is one break
  EXPECT_EQ(Line("a\r\rb", 1), "b");      // so is CR CR
  EXPECT_EQ(Line("a\n\rb", 1), "b");      // and LF CR
  EXPECT_EQ(Line("a\r\n\r\nb", 1), "");   // two breaks leave an empty line between
  EXPECT_EQ(Line("a\r\n\r\nb", 2), "b");
  EXPECT_EQ(Line("", 0), "");
  EXPECT_EQ(Line(std::string("C:\\x\0tail", 9), 0), "C:\\x");  // a zero byte ends the content
  EXPECT_EQ(Line("表示\r\n", 0), "表示");
}

TEST(ExtractLine, LongLineIsCutAtACharacter) {
  EXPECT_EQ(Line(std::string(5000, 'a'), 0).size(), kLineMaxBytes);
  // 1002 ASCII bytes, then a double-byte character that would straddle the limit.
  const std::string content = std::string(1002, 'a') + "表";
  EXPECT_EQ(Line(content, 0), std::string(1002, 'a'));
  // A save folder longer than its buffer would be cut into the name of another folder.
  EXPECT_EQ(SaveFolderFromLine("C:\\" + std::string(300, 'a'), "C:\\desk", 264), "C:\\desk");
  EXPECT_EQ(SaveFolderFromLine("C:\\" + std::string(261, 'a'), "C:\\desk", 264), "C:\\desk");
  EXPECT_EQ(SaveFolderFromLine("C:\\" + std::string(260, 'a'), "C:\\desk", 264), "C:\\" + std::string(260, 'a'));
  EXPECT_EQ(SaveFolderFromLine("C", "C:\\desk", 264), "C:\\desk");
}

TEST(MainWndPos, ParsesOnlyCrLfLines) {
  const struct {
    std::string content;
    int32_t left, top;
  } cases[] = {
      {"100\r\n200\r\n", 100, 200},
      {std::string("100\r\n200\r\n\0", 11), 100, 200},
      {"100\r\n200", 100, 0},
      {"100\n200\n", 0, 0},
      {"", 0, 0},
      {"-8\r\n30\r\n", 0, 30},
      {"-8\r\n-30\r\n", 0, 0},
      {"1\r2\r\n5\r\n", 1, 5},          // a lone CR stays in the line and ends the number
      {"00000000001234\r\n7\r\n", 1, 7},  // at most 11 bytes of a line are kept
      {"5\r\n6\r\n7\r\n", 5, 6},
  };
  for (const auto& c : cases) {
    const WindowPos pos = Pos(c.content);
    EXPECT_EQ(pos.left, c.left) << c.content;
    EXPECT_EQ(pos.top, c.top) << c.content;
  }
}

TEST(MainWndPos, SavedTextReadsBack) {
  EXPECT_EQ(FormatMainWndPos(100, 200), "100\r\n200\r\n");
  const WindowPos pos = Pos(FormatMainWndPos(-8, 613));
  EXPECT_EQ(pos.left, 0);
  EXPECT_EQ(pos.top, 613);
}

TEST(SplitExtension, CutsAtTheLastDot) {
  std::string path = "C:\\pics\\a.jpg";
  EXPECT_EQ(SplitExtension(path), ".jpg");
  EXPECT_EQ(path, "C:\\pics\\a");

  path = "C:\\pics\\noext";
  EXPECT_EQ(SplitExtension(path), "");
  EXPECT_EQ(path, "C:\\pics\\noext");

  path = "C:\\my.pics\\noext";
  EXPECT_EQ(SplitExtension(path), ".pics\\noext");
  EXPECT_EQ(path, "C:\\my");

  path = "表.bmp";
  EXPECT_EQ(SplitExtension(path), ".bmp");
  EXPECT_EQ(path, "表");
}
