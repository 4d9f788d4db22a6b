// TallSnap.exe as a separate process, with its converters beside it: what a user's machine sees.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/main_wnd_core.h"
#include "output/finish_core.h"
#include "shared/converter_protocol.h"
#include "version.h"
#include "win_test_support.h"

namespace {

const char kTitle[] = "TallSnap （‘ v‘）/　縦長画像を一発ゲット！";
const char kKelvoTitle[] = "圧縮ファイルBMP変換だぞ";

struct Program {
  PROCESS_INFORMATION pi{};
  HWND main = nullptr;
  HWND range = nullptr;
  DWORD startTick = 0;
  // A test that fails half-way leaves no program running behind it.
  ~Program() {
    if (pi.hProcess == nullptr) return;
    TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
};

// Starts TallSnap.exe with workDir as its current directory: by default the copy in workDir,
// beside its converters, as the program is installed.
bool Launch(Program& p, const std::string& workDir, std::string exe = "") {
  if (exe.empty()) exe = workDir + "\\TallSnap.exe";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  p.startTick = GetTickCount();
  return CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, workDir.c_str(), &si, &p.pi);
}

// Launches and waits until both windows exist and the start-up tick has enabled the range
// button (the converter found, the range surfaces made).
bool Start(Program& p, const std::string& workDir) {
  if (!Launch(p, workDir)) return false;
  return PumpUntil(
      [&] {
        p.main = FindProcessWindow(p.pi.dwProcessId, "NORMAL0", false);
        p.range = FindProcessWindow(p.pi.dwProcessId, "NORMAL1", false);
        return p.main != nullptr && p.range != nullptr && IsWindowEnabled(GetDlgItem(p.main, kIdRangeButton)) &&
               FindWindowA(nullptr, kKelvoTitle) != nullptr;
      },
      30000);
}

DWORD WaitForExit(Program& p, DWORD timeoutMs) {
  DWORD code = 0xDEAD;
  if (WaitForSingleObject(p.pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(p.pi.hProcess, &code);
  else TerminateProcess(p.pi.hProcess, 1);
  CloseHandle(p.pi.hProcess);
  CloseHandle(p.pi.hThread);
  p.pi = PROCESS_INFORMATION{};
  return code;
}

// Closes the main window as the user would and returns the exit code (or a marker).
DWORD Close(Program& p) {
  PostMessageA(p.main, WM_CLOSE, 0, 0);
  return WaitForExit(p, 20000);
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      nullptr);
  return text;
}

RECT WindowRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

// A message box of process pid: waits for it, reads it, answers OK.
bool AnswerMessageBox(DWORD pid, DWORD timeoutMs, SeenDialog& seen) {
  // A box is read once its caption and text are in place: it may be found while it is still
  // being made.
  HWND box = nullptr;
  if (!PumpUntil(
          [&] {
            box = FindProcessWindow(pid, "#32770", true);
            if (box == nullptr) return false;
            seen.caption = WindowText(box);
            seen.text = WindowText(GetDlgItem(box, 0xFFFF));
            return !seen.text.empty() && !seen.caption.empty();
          },
          timeoutMs))
    return false;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return true;
}

std::string DesktopFolder() {
  char path[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOP, FALSE);
  return path;
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
  void SetUp() override {
    folder = MakeTempFolder();
    CopyConverter("TallSnap.exe", "TallSnap.exe");
    CopyConverter("Kelvo.exe", "Kelvo.exe");
    CopyConverter("Tarvin.exe", "Tarvin.exe");
  }
  void TearDown() override { RemoveFolderTree(folder); }
  void CopyConverter(const char* from, const char* to) {
    EXPECT_TRUE(CopyFileA((ExeFolder() + "\\" + from).c_str(), In(to).c_str(), FALSE))
        << from << ": error " << GetLastError();
  }
  std::string In(const std::string& name) const { return folder + "\\" + name; }
  std::string Settings(const std::string& name) const { return In("TallSnap個人設定\\" + name); }
  std::string folder;
};

}  // namespace

TEST_F(ProgramTest, StartsFindsItsConverterAndEndsCleanly) {
  Program p;
  ASSERT_TRUE(Start(p, folder));
  const DWORD readyMs = GetTickCount() - p.startTick;
  std::printf("start to an enabled range button: %lu ms\n", readyMs);
  RecordProperty("ready_ms", static_cast<int>(readyMs));
  EXPECT_TRUE(FolderExists(In("TallSnap個人設定")));
  EXPECT_EQ(WindowText(p.main), kTitle);
  EXPECT_EQ(WindowText(p.range), "HanniWnd");
  EXPECT_TRUE(IsWindowVisible(p.main));
  EXPECT_FALSE(IsWindowVisible(p.range));
  EXPECT_EQ(WindowText(GetDlgItem(p.main, kIdFormatBox)), kFormatItems[0].text);

  // The range button is enabled only once both screen-sized surfaces exist.
  const DWORD surfaceBytes = static_cast<DWORD>(4 * (GetSystemMetrics(SM_CXVIRTUALSCREEN) + 200) *
                                                    (GetSystemMetrics(SM_CYVIRTUALSCREEN) + 200) + 1000);
  for (const char* name : {"TallSnap_glHanniMemDC0.txt", "TallSnap_glHanniMemBeforeDC0.txt"}) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExA(In(std::string("ファイルマップフォルダ\\") + name).c_str(), GetFileExInfoStandard,
                                     &data))
        << name;
    EXPECT_EQ(data.nFileSizeLow, surfaceBytes) << name;
  }

  // The converter it started, from its own working folder.
  HWND kelvo = FindWindowA(nullptr, kKelvoTitle);
  DWORD kelvoPid = 0;
  GetWindowThreadProcessId(kelvo, &kelvoPid);
  HANDLE kelvoProcess = OpenProcess(SYNCHRONIZE, FALSE, kelvoPid);
  ASSERT_NE(kelvoProcess, nullptr);

  // A reply far larger than the program's buffer, from another process.
  const long before = CountInProgramImage(p.pi.hProcess, p.pi.dwProcessId, 'r');
  std::string huge(50000, 'r');
  COPYDATASTRUCT data{1, static_cast<DWORD>(huge.size()), huge.data()};
  DWORD_PTR result = 0;
  EXPECT_NE(SendMessageTimeoutA(p.main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                                &result),
            0);
  // It kept what fits, one byte short of its buffer, and wrote nothing past it: those are all
  // the payload's bytes that its globals gained.
  ASSERT_GE(before, 0);
  EXPECT_EQ(CountInProgramImage(p.pi.hProcess, p.pi.dwProcessId, 'r') - before, static_cast<long>(kReplyBufBytes - 1));

  // The range layout on a real click, then back.
  SendMessageA(GetDlgItem(p.main, kIdReadyButton), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(p.main, kIdRangeButton)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(p.main, kIdReadyButton)));
  SendMessageA(GetDlgItem(p.main, kIdCancelButton), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(p.main, kIdReadyButton)));

  // Hand-off files left behind go at the end, and so does the converter.
  for (const char* name : {"■ToJpgBmpForKelvo.bmp", "■ToJpgJpgForOndel.jpg", "■ToJpgJpgForOndel.png"})
    WriteFileBytes(In(name), "left over");
  SetWindowPos(p.main, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_EQ(Close(p), 0u);
  EXPECT_EQ(WaitForSingleObject(kelvoProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(kelvoProcess);
  for (const char* name : {"■ToJpgBmpForKelvo.bmp", "■ToJpgJpgForOndel.jpg", "■ToJpgJpgForOndel.png"})
    EXPECT_EQ(GetFileAttributesA(In(name).c_str()), INVALID_FILE_ATTRIBUTES) << name;

  // The remembered settings, byte for byte, and no scratch folder left behind.
  EXPECT_EQ(ReadFileBytes(Settings("形式.txt")), kFormatItems[0].text);
  EXPECT_EQ(ReadFileBytes(Settings("MainWnd.txt")), std::string("40\r\n50\r\n\0", 9));
  EXPECT_EQ(ReadFileBytes(Settings("保存先指定.txt")), DesktopFolder());
  EXPECT_FALSE(FolderExists(In("ファイルマップフォルダ")));
}

TEST_F(ProgramTest, SettingsAsThePreviousRunLeftThem) {
  const std::string desktop = DesktopFolder();
  const struct {
    const char* what;
    const char* saveFolder;  // FileHozonPath.txt, nullptr: none
    std::string mainWnd;
    const char* format;  // 形式.txt, nullptr: none
    int left, top;       // -1: wherever the system puts a new window
    const char* shown;   // the format box text, which 形式.txt holds after the run
    std::string folder;  // the save folder, which 保存先指定.txt holds after the run
  } cases[] = {
      {"first run", nullptr, "", nullptr, -1, -1, kFormatItems[0].text, desktop},
      {"png", "D:\\pics", "100\r\n200\r\n", "png", 100, 200, kFormatItems[1].text, "D:\\pics"},
      {"clipboard", "D", "100\r\n200", "Bmp anything", 100, 0, kFormatItems[4].text, desktop},
      {"bmp file", nullptr, "100\n200\n", "bmp", 0, 0, kFormatItems[2].text, desktop},
      {"empty format", nullptr, "-8\r\n30\r\n", "", 0, 30, "", desktop},
      {"empty position", nullptr, "", "3", 0, 0, kFormatItems[3].text, desktop},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveFolderTree(In("TallSnap個人設定"));
    CreateDirectoryA(In("TallSnap個人設定").c_str(), nullptr);
    if (c.saveFolder != nullptr) WriteFileBytes(Settings("FileHozonPath.txt"), std::string(c.saveFolder) + '\0');
    if (std::string(c.what) != "first run") WriteFileBytes(Settings("MainWnd.txt"), c.mainWnd);
    if (c.format != nullptr) WriteFileBytes(Settings("形式.txt"), c.format);

    Program p;
    ASSERT_TRUE(Start(p, folder));
    const RECT r = WindowRect(p.main);
    if (c.left >= 0) {
      EXPECT_EQ(r.left, c.left);
      EXPECT_EQ(r.top, c.top);
    }
    EXPECT_EQ(WindowText(GetDlgItem(p.main, kIdFormatBox)), c.shown);
    EXPECT_EQ(Close(p), 0u);
    EXPECT_EQ(ReadFileBytes(Settings("形式.txt")), c.shown);
    EXPECT_EQ(ReadFileBytes(Settings("保存先指定.txt")), c.folder);
    // FileHozonPath.txt is the save dialog's to write; a run without one leaves it as it was.
    EXPECT_EQ(ReadFileBytes(Settings("FileHozonPath.txt")),
              c.saveFolder != nullptr ? std::string(c.saveFolder) + '\0' : std::string("<missing>"));
  }
}

TEST_F(ProgramTest, RefusesToRunWithoutItsConverters) {
  const struct {
    const char* keep;  // the converter left in the folder, nullptr: none
    const char* text;
    bool fromBuildFolder;  // run the TallSnap.exe that lies beside both converters
  } cases[] = {
      {nullptr, "（;‘ o‘）/Kelvo.exeと同じフォルダに入れてお使いください。", false},
      {"Tarvin.exe", "（;‘ o‘）/Kelvo.exeと同じフォルダに入れてお使いください。", false},
      {"Kelvo.exe", "（;‘ o‘）/Tarvin.exeと同じフォルダに入れてお使いください。", false},
      // Converters beside the program do not count: they must be in the working folder.
      {nullptr, "（;‘ o‘）/Kelvo.exeと同じフォルダに入れてお使いください。", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    DeleteFileA(In("Kelvo.exe").c_str());
    DeleteFileA(In("Tarvin.exe").c_str());
    if (c.keep != nullptr) CopyConverter(c.keep, c.keep);
    Program p;
    ASSERT_TRUE(Launch(p, folder, c.fromBuildFolder ? ExeFolder() + "\\TallSnap.exe" : "")) << "error " << GetLastError();
    SeenDialog seen;
    ASSERT_TRUE(AnswerMessageBox(p.pi.dwProcessId, 20000, seen));
    EXPECT_EQ(seen.caption, "TallSnap");
    EXPECT_EQ(seen.text, c.text);
    EXPECT_EQ(WaitForExit(p, 20000), 0u);
    // Nothing was remembered: no settings file, and only one message.
    EXPECT_EQ(ReadFileBytes(Settings("形式.txt")), "<missing>");
    EXPECT_EQ(ReadFileBytes(Settings("MainWnd.txt")), "<missing>");
  }
}

TEST_F(ProgramTest, AConverterThatNeverAppearsIsReportedAndTallSnapGoesOn) {
  CopyConverter("silent_kelvo.exe", "Kelvo.exe");
  Program p;
  ASSERT_TRUE(Launch(p, folder));
  // While the search runs the range button is disabled and the range surfaces do not exist.
  ASSERT_TRUE(PumpUntil(
      [&] {
        p.main = FindProcessWindow(p.pi.dwProcessId, "NORMAL0", false);
        return p.main != nullptr && !IsWindowEnabled(GetDlgItem(p.main, kIdRangeButton));
      },
      20000));
  EXPECT_EQ(GetFileAttributesA(In("ファイルマップフォルダ\\TallSnap_glHanniMemDC0.txt").c_str()),
            INVALID_FILE_ATTRIBUTES);
  SeenDialog seen;
  ASSERT_TRUE(AnswerMessageBox(p.pi.dwProcessId, 30000, seen));
  const DWORD reportedMs = GetTickCount() - p.startTick;
  std::printf("a converter that never appears is reported after %lu ms\n", reportedMs);
  EXPECT_EQ(seen.caption, "TallSnap");
  EXPECT_NE(seen.text.find("Kelvo.exe"), std::string::npos) << seen.text;
  EXPECT_LT(reportedMs, 15000u);

  // Usable where it can be: the range button comes back and the window answers at once.
  EXPECT_TRUE(PumpUntil([&] { return IsWindowEnabled(GetDlgItem(p.main, kIdRangeButton)) != FALSE; }, 10000));
  DWORD_PTR ignored = 0;
  EXPECT_NE(SendMessageTimeoutA(p.main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored), 0);
  SendMessageA(GetDlgItem(p.main, kIdReadyButton), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(p.main, kIdRangeButton)));
  EXPECT_EQ(Close(p), 0u);
}

TEST_F(ProgramTest, AHungConverterNeitherStopsTheSearchNorTheEnd) {
  CopyConverter("hung_kelvo.exe", "Kelvo.exe");
  Program p;
  ASSERT_TRUE(Start(p, folder));  // found by its title although it answers no message
  const DWORD closing = GetTickCount();
  EXPECT_EQ(Close(p), 0u);
  const DWORD closeMs = GetTickCount() - closing;
  std::printf("closing with a hung converter took %lu ms\n", closeMs);
  EXPECT_LT(closeMs, 10000u);
}

TEST_F(ProgramTest, ASubfolderKeepsTheScratchFolderButNotItsFiles) {
  Program p;
  ASSERT_TRUE(Start(p, folder));
  CreateDirectoryA(In("ファイルマップフォルダ\\keep").c_str(), nullptr);
  WriteFileBytes(In("ファイルマップフォルダ\\stray.txt"), "x");
  EXPECT_EQ(Close(p), 0u);
  EXPECT_TRUE(FolderExists(In("ファイルマップフォルダ\\keep")));
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(In("ファイルマップフォルダ\\*").c_str(), &entry);
  int files = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do files += !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  EXPECT_EQ(files, 0);
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

namespace {

// The machine a PE file is built for, from its file header; 0 when it is no PE file.
WORD PeMachine(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return 0;
  DWORD peOffset = 0;
  std::memcpy(&peOffset, bytes.data() + 0x3C, sizeof peOffset);
  if (bytes.size() < peOffset + 6 || bytes.compare(peOffset, 4, std::string("PE\0\0", 4)) != 0) return 0;
  WORD machine = 0;
  std::memcpy(&machine, bytes.data() + peOffset + 4, sizeof machine);
  return machine;
}

// The "FileVersion" text of a program's version resource (of either machine).
std::string FileVersionText(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::vector<char> info(size);
  char* text = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, info.data()) ||
      !VerQueryValueA(info.data(), "\\StringFileInfo\\041104B0\\FileVersion", reinterpret_cast<void**>(&text),
                      &length) ||
      length == 0)
    return std::string();
  return std::string(text, strnlen(text, length));
}

}  // namespace

// The unpacked release package (its Linux folder in TALLSNAP_PACKAGE_DIR, set by the test
// command): 32-bit programs of this version that start and find their converter as an installed
// copy does; the x86_64 build runs the same layout with its own programs in it.
TEST_F(ProgramTest, TheReleaseFolderLayoutStarts) {
  char unixFolder[MAX_PATH] = {};
  if (GetEnvironmentVariableA("TALLSNAP_PACKAGE_DIR", unixFolder, sizeof unixFolder) == 0)
    GTEST_SKIP() << "TALLSNAP_PACKAGE_DIR is not set: the test command sets it after making the package";
  const std::string package = WindowsPathOf(unixFolder);
  const std::string release = MakeTempFolder();
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((package + "\\*").c_str(), &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE) << package;
  std::vector<std::string> names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  int programs = 0;
  for (const std::string& name : names) {
    const std::string shipped = package + "\\" + name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".exe") {
      ++programs;
      EXPECT_EQ(PeMachine(shipped), IMAGE_FILE_MACHINE_I386) << name;
      EXPECT_EQ(FileVersionText(shipped), FileVersionText(ExeFolder() + "\\" + name)) << name;
      EXPECT_EQ(FileVersionText(shipped), TALLSNAP_VERSION_TEXT) << name;
      const std::string program = sizeof(void*) == 4 ? shipped : ExeFolder() + "\\" + name;
      ASSERT_TRUE(CopyFileA(program.c_str(), (release + "\\" + name).c_str(), FALSE)) << name;
    } else {
      ASSERT_TRUE(CopyFileA(shipped.c_str(), (release + "\\" + name).c_str(), FALSE)) << name;
    }
  }
  EXPECT_EQ(programs, 3);

  Program p;
  ASSERT_TRUE(Start(p, release));
  EXPECT_EQ(WindowText(p.main), kTitle);
  EXPECT_TRUE(FolderExists(release + "\\TallSnap個人設定"));
  EXPECT_EQ(Close(p), 0u);
  RemoveFolderTree(release);
}
