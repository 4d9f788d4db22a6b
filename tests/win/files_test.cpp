#include <gtest/gtest.h>

#include "settings/files.h"
#include "state/state.h"
#include "win_test_support.h"

namespace {

const char kSettings[] = "TallSnap個人設定";

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    SetCurrentDirectoryA(folder.c_str());
    CreateDirectoryA(kSettings, nullptr);
    window = CreateWindowExA(0, "STATIC", "pos", WS_POPUP | WS_VISIBLE, 10, 10, 200, 50, nullptr, nullptr,
                             nullptr, nullptr);
    glMainWnd = window;
  }
  void TearDown() override {
    DestroyWindow(window);
    glMainWnd = nullptr;
    SetCurrentDirectoryA(ExeFolder().c_str());
    RemoveFolderTree(folder);
  }
  POINT WindowTopLeft() {
    RECT r{};
    GetWindowRect(window, &r);
    return POINT{r.left, r.top};
  }
  std::string folder;
  HWND window = nullptr;
};

}  // namespace

TEST_F(FilesTest, WritersProduceExactBytes) {
  FileWriteText("a.txt", "C:\\写真");
  EXPECT_EQ(ReadFileBytes("a.txt"), std::string("C:\\写真\0", 8));
  EXPECT_EQ(FileWriteMy2("b.txt", "png", 3), 3u);
  EXPECT_EQ(ReadFileBytes("b.txt"), "png");
  EXPECT_EQ(FileWriteMy2("b.txt", "", 0), 0u);  // truncates what was there
  EXPECT_EQ(ReadFileBytes("b.txt"), "");
  EXPECT_EQ(FileReadLine("a.txt", 0), "C:\\写真");

  WriteFileBytes("lines.txt", "abc\r\nd\te\nf");
  EXPECT_EQ(FileReadLine("lines.txt", 0), "abc");
  EXPECT_EQ(FileReadLine("lines.txt", 1), "de");
  EXPECT_EQ(FileReadLine("lines.txt", 2), "f");
  EXPECT_EQ(FileReadLine("lines.txt", 3), "");
  EXPECT_EQ(FileReadLine("missing.txt", 0), "");
}

TEST_F(FilesTest, FailuresAreReportedAsTheirOwnersSay) {
  DialogAnswerer answerer;
  FileWriteText("no such folder\\a.txt", "x");  // silent
  EXPECT_EQ(FileWriteMy2("no such folder\\b.txt", "x", 1), 0u);
  ASSERT_TRUE(answerer.WaitForCount(1, 5000));
  PumpFor(200);
  const auto seen = answerer.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "FileWriteMy2 INVALID_HANDLE_VALUE");
  EXPECT_EQ(seen[0].caption, "");
}

TEST_F(FilesTest, ExistenceMeansAnExclusiveOpen) {
  EXPECT_EQ(FileExists("x.txt"), 0);
  WriteFileBytes("x.txt", "1");
  EXPECT_EQ(FileExists("x.txt"), 1);
  EXPECT_EQ(FileExists(kSettings), 0);  // a folder
  HANDLE held = CreateFileA("x.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FileExists("x.txt"), 0);
  EXPECT_EQ(FileReadLine("x.txt", 0), "");
  CloseHandle(held);
  EXPECT_EQ(FileReadLine("x.txt", 0), "1");
}

TEST_F(FilesTest, WindowPositionRoundTrip) {
  SetWindowPos(window, HWND_TOP, 123, 45, 0, 0, SWP_NOSIZE);
  MainWndSavePos("pos.txt", window);
  EXPECT_EQ(ReadFileBytes("pos.txt"), std::string("123\r\n45\r\n\0", 10));

  WriteFileBytes("pos.txt", "100\r\n200\r\n");
  MainWndLoadPos("pos.txt", window);
  EXPECT_EQ(WindowTopLeft().x, 100);
  EXPECT_EQ(WindowTopLeft().y, 200);

  SetWindowPos(window, HWND_TOP, -8, 30, 0, 0, SWP_NOSIZE);
  MainWndSavePos("pos.txt", window);
  MainWndLoadPos("pos.txt", window);
  EXPECT_EQ(WindowTopLeft().x, 0);
  EXPECT_EQ(WindowTopLeft().y, 30);

  MainWndLoadPos("missing.txt", window);  // leaves the window where it is
  EXPECT_EQ(WindowTopLeft().x, 0);
  EXPECT_EQ(WindowTopLeft().y, 30);
}

TEST_F(FilesTest, LoadAndSaveSequences) {
  lstrcpyA(glDesktopPath, "C:\\users\\me\\Desktop");
  // First run: nothing remembered.
  LoadSettings();
  EXPECT_STREQ(FileHozonFolderPath, glDesktopPath);
  EXPECT_STREQ(glFormatText, "j");

  WriteFileBytes("TallSnap個人設定\\FileHozonPath.txt", std::string("D:\\表示\0", 8));
  WriteFileBytes("TallSnap個人設定\\形式.txt", "png");
  WriteFileBytes("TallSnap個人設定\\MainWnd.txt", "100\r\n200\r\n");
  LoadSettings();
  EXPECT_STREQ(FileHozonFolderPath, "D:\\表示");
  EXPECT_STREQ(glFormatText, "png");
  EXPECT_EQ(WindowTopLeft().x, 100);
  EXPECT_EQ(WindowTopLeft().y, 200);

  WriteFileBytes("TallSnap個人設定\\FileHozonPath.txt", "D");  // too short to be a folder
  WriteFileBytes("TallSnap個人設定\\形式.txt", "");
  LoadSettings();
  EXPECT_STREQ(FileHozonFolderPath, glDesktopPath);
  EXPECT_STREQ(glFormatText, "");

  // A first line longer than the buffer, cut, would name another folder: the desktop instead.
  WriteFileBytes("TallSnap個人設定\\FileHozonPath.txt", "C:\\" + std::string(900, 'x'));
  LoadSettings();
  EXPECT_STREQ(FileHozonFolderPath, glDesktopPath);

  lstrcpyA(FileHozonFolderPath, "E:\\out");
  lstrcpyA(glFormatText, "bmp (何かの作業向け、無劣化、ﾌｧｲﾙｻｲｽﾞ大)");
  SetWindowPos(window, HWND_TOP, 7, 8, 0, 0, SWP_NOSIZE);
  SaveSettings();
  EXPECT_EQ(ReadFileBytes("TallSnap個人設定\\保存先指定.txt"), "E:\\out");
  EXPECT_EQ(ReadFileBytes("TallSnap個人設定\\形式.txt"), "bmp (何かの作業向け、無劣化、ﾌｧｲﾙｻｲｽﾞ大)");
  EXPECT_EQ(ReadFileBytes("TallSnap個人設定\\MainWnd.txt"), std::string("7\r\n8\r\n\0", 7));
  EXPECT_EQ(ReadFileBytes("TallSnap個人設定\\FileHozonPath.txt").substr(0, 3), "C:\\");  // not rewritten here
}
