// TallSnap.exe as a separate process: what a user's machine sees of it.
#include <gtest/gtest.h>

#include <cstring>

#include "app/main_wnd_core.h"
#include "win_test_support.h"

namespace {

struct Program {
  PROCESS_INFORMATION pi{};
  HWND main = nullptr;
  HWND range = nullptr;
};

// Starts TallSnap.exe from the build folder with workDir as its current directory.
bool Start(Program& p, const std::string& workDir) {
  std::string exe = ExeFolder() + "\\TallSnap.exe";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  if (!CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, workDir.c_str(), &si, &p.pi))
    return false;
  return PumpUntil(
      [&] {
        p.main = FindProcessWindow(p.pi.dwProcessId, "NORMAL0", false);
        p.range = FindProcessWindow(p.pi.dwProcessId, "NORMAL1", false);
        return p.main != nullptr && p.range != nullptr;
      },
      20000);
}

// Closes the main window as the user would and returns the exit code (or a marker).
DWORD Close(Program& p) {
  PostMessageA(p.main, WM_CLOSE, 0, 0);
  DWORD code = 0xDEAD;
  if (WaitForSingleObject(p.pi.hProcess, 20000) == WAIT_OBJECT_0) GetExitCodeProcess(p.pi.hProcess, &code);
  else TerminateProcess(p.pi.hProcess, 1);
  CloseHandle(p.pi.hProcess);
  CloseHandle(p.pi.hThread);
  return code;
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      nullptr);
  return text;
}

#pragma pack(push, 1)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { folder = MakeTempFolder(); }
  void TearDown() override { RemoveFolderTree(folder); }
  std::string folder;
};

}  // namespace

TEST_F(ProgramTest, RunsInItsWorkingFolderAndEndsCleanly) {
  Program p;
  ASSERT_TRUE(Start(p, folder));
  EXPECT_TRUE(FolderExists(folder + "\\TallSnap個人設定"));
  EXPECT_TRUE(FolderExists(folder + "\\ファイルマップフォルダ"));
  EXPECT_EQ(WindowText(p.main), "TallSnap （‘ v‘）/　縦長画像を一発ゲット！");
  EXPECT_EQ(WindowText(p.range), "HanniWnd");
  EXPECT_TRUE(IsWindowVisible(p.main));
  EXPECT_FALSE(IsWindowVisible(p.range));
  EXPECT_EQ(WindowText(GetDlgItem(p.main, kIdFormatBox)), kFormatItems[0].text);

  // A reply far larger than the program's buffer, from another process.
  std::string huge(50000, 'r');
  COPYDATASTRUCT data{1, static_cast<DWORD>(huge.size()), huge.data()};
  DWORD_PTR result = 0;
  EXPECT_NE(SendMessageTimeoutA(p.main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                                &result),
            0);

  // The range layout on a real click, then back.
  SendMessageA(GetDlgItem(p.main, kIdReadyButton), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(p.main, kIdRangeButton)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(p.main, kIdReadyButton)));
  SendMessageA(GetDlgItem(p.main, kIdCancelButton), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(p.main, kIdReadyButton)));

  SetWindowPos(p.main, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_EQ(Close(p), 0u);

  // The remembered settings, byte for byte, and no scratch folder left behind.
  EXPECT_EQ(ReadFileBytes(folder + "\\TallSnap個人設定\\形式.txt"), kFormatItems[0].text);
  EXPECT_EQ(ReadFileBytes(folder + "\\TallSnap個人設定\\MainWnd.txt"), std::string("40\r\n50\r\n\0", 9));
  const std::string lastFolder = ReadFileBytes(folder + "\\TallSnap個人設定\\保存先指定.txt");
  EXPECT_GT(lastFolder.size(), 2u);  // the desktop
  EXPECT_EQ(lastFolder.find('\0'), std::string::npos);
  EXPECT_FALSE(FolderExists(folder + "\\ファイルマップフォルダ"));
}

TEST(ProgramResources, OneIconOf64By64In256Colours) {
  HMODULE exe = LoadLibraryExA((ExeFolder() + "\\TallSnap.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  HRSRC group = FindResourceA(exe, MAKEINTRESOURCEA(101), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
  ASSERT_NE(group, nullptr);
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(exe, group)));
  const WORD count = *reinterpret_cast<const WORD*>(bytes + 4);
  ASSERT_EQ(count, 1);
  GroupIconEntry entry;
  std::memcpy(&entry, bytes + 6, sizeof entry);
  EXPECT_EQ(entry.width, 64);
  EXPECT_EQ(entry.height, 64);
  EXPECT_EQ(entry.bitCount, 8);
  HRSRC image = FindResourceA(exe, MAKEINTRESOURCEA(entry.id), reinterpret_cast<LPCSTR>(RT_ICON));
  ASSERT_NE(image, nullptr);
  BITMAPINFOHEADER header;
  std::memcpy(&header, LockResource(LoadResource(exe, image)), sizeof header);
  EXPECT_EQ(header.biWidth, 64);
  EXPECT_EQ(header.biBitCount, 8);
  EXPECT_NE(FindResourceA(exe, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_VERSION)), nullptr);
  EXPECT_NE(FindResourceA(exe, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_MANIFEST)), nullptr);
  FreeLibrary(exe);
}

TEST_F(ProgramTest, ASecondRunRemembersPositionAndFormat) {
  CreateDirectoryA((folder + "\\TallSnap個人設定").c_str(), nullptr);
  WriteFileBytes(folder + "\\TallSnap個人設定\\MainWnd.txt", "100\r\n200\r\n");
  WriteFileBytes(folder + "\\TallSnap個人設定\\形式.txt", "png");
  // A stray file in the scratch folder goes with it at the end.
  CreateDirectoryA((folder + "\\ファイルマップフォルダ").c_str(), nullptr);
  WriteFileBytes(folder + "\\ファイルマップフォルダ\\stray.txt", "x");

  Program p;
  ASSERT_TRUE(Start(p, folder));
  RECT r{};
  GetWindowRect(p.main, &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 200);
  EXPECT_EQ(WindowText(GetDlgItem(p.main, kIdFormatBox)), kFormatItems[1].text);
  EXPECT_EQ(Close(p), 0u);
  EXPECT_EQ(ReadFileBytes(folder + "\\TallSnap個人設定\\形式.txt"), kFormatItems[1].text);
  EXPECT_FALSE(FolderExists(folder + "\\ファイルマップフォルダ"));
}
