// Captures made the way a person makes them: TallSnap.exe runs on its own, is driven through the
// mouse and keyboard only, and is judged by its windows, the screen, its files and the clipboard.
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "app/main_wnd_core.h"
#include "capture/stitch.h"
#include "e2e_support.h"
#include "range/rect.h"
#include "scroll_content.h"

namespace {

const char kKelvoTitle[] = "圧縮ファイルBMP変換だぞ";
const char kSaveDialogTitle[] = "保存先(フォルダ)と名前を決めてください";
enum Format { kJpg = 0, kPng, kBmp, kAllThree, kClipboard };
// The target's picture is per-pixel noise, the hardest case for JPEG: Wine's codec (quality
// about 75, 4:2:0 chroma) decodes it at 12.6-13 dB, while a picture of the wrong rows would be
// near 7.8 dB. Below this bound something else than the codec's loss is at work.
constexpr double kJpegPsnrBound = 11.0;

// The window the user scrolls: the tall picture of scroll_content.h.
struct Target {
  ChildProcess process;
  HWND window = nullptr;
  int x = 0, y = 0, width = 0, height = 0;

  // mode: "copy" or "late" scroll by copying the window's pixels (see scroll_target.cpp).
  bool Start(int left, int top, int w, int h, int pixelsPerNotch = kPixelsPerNotch, const char* mode = "") {
    x = left, y = top, width = w, height = h;
    const std::string line = "\"" + ExeFolder() + "\\scroll_target.exe\" " + std::to_string(x) + " " +
                             std::to_string(y) + " " + std::to_string(w) + " " + std::to_string(h) + " " +
                             std::to_string(pixelsPerNotch) + " " + mode;
    if (!process.Start(line, "")) return false;
    return PumpUntil(
        [&] {
          window = FindProcessWindow(process.pi.dwProcessId, "ScrollTarget", true);
          return window != nullptr && Offset() == 0;
        },
        20000);
  }
  // The title tells where the picture stands.
  int Offset() const {
    int offset = -1;
    std::sscanf(TextOf(window).c_str(), "scroll target %d", &offset);
    return offset;
  }
  // Wheel notches with the pointer over the picture (down when positive), at a person's pace:
  // a few notches, a pause, again. True once the picture shows them all. The wheel turns the
  // window with the focus, so it is clicked first, as a person clicks the window to scroll.
  bool Scroll(int notches, int perNotch = kPixelsPerNotch) {
    const int want = std::max(0, Offset() + notches * perNotch);
    const std::string at = "mousemove " + std::to_string(x + width - 30) + " " + std::to_string(y + height / 2);
    if (!Focus()) return false;
    for (int left = std::abs(notches); left > 0; left -= 3) {
      const int burst = std::min(3, left);
      Xdotool(at + " click --repeat " + std::to_string(burst) + " --delay 90 " + (notches > 0 ? "5" : "4") +
              " sleep 0.25");
    }
    if (PumpUntil([&] { return Offset() == want; }, 10000)) return true;
    ADD_FAILURE() << "the target stands at " << Offset() << ", not " << want;
    return false;
  }
  // One quick burst of notches delayMs apart, as a person flicks the wheel.
  bool Burst(int notches, int delayMs) {
    const int want = std::max(0, Offset() + notches * kPixelsPerNotch);
    if (!Focus()) return false;
    Xdotool("mousemove " + std::to_string(x + width - 30) + " " + std::to_string(y + height / 2) + " click --repeat " +
            std::to_string(std::abs(notches)) + " --delay " + std::to_string(delayMs) + (notches > 0 ? " 5" : " 4"));
    if (PumpUntil([&] { return Offset() == want; }, 10000)) return true;
    ADD_FAILURE() << "the target stands at " << Offset() << ", not " << want;
    return false;
  }
  bool Focus() {
    if (GetForegroundWindow() == window) return true;
    ClickAt(x + width - 30, y + height / 2);
    if (PumpUntil([&] { return GetForegroundWindow() == window; }, 5000)) return true;
    ADD_FAILURE() << "the target did not take the focus";
    return false;
  }
  // One Shift+wheel notch: the picture jumps further than the window is high.
  bool Flick() {
    const int want = Offset() + height + 100;
    if (!Focus()) return false;
    Xdotool("mousemove " + std::to_string(x + width - 30) + " " + std::to_string(y + height / 2) +
            " keydown shift click 5 keyup shift");
    return PumpUntil([&] { return Offset() == want; }, 10000);
  }
};

constexpr int kTargetX = 600, kTargetY = 250, kTargetW = 500, kTargetH = 700;
constexpr int kRangeX0 = 640, kRangeY0 = 300, kRangeX1 = 1040, kRangeY1 = 800;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    const std::string programs = ProgramFolder();
    ASSERT_FALSE(programs.empty()) << "TALLSNAP_PACKAGE_DIR must name the unpacked release package";
    for (const char* exe : {"TallSnap.exe", "Kelvo.exe", "Tarvin.exe"})
      ASSERT_TRUE(CopyFileA((programs + "\\" + exe).c_str(), (folder + "\\" + exe).c_str(), FALSE)) << programs;
    shots.name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    if (tallsnap.Running() && main != nullptr) {
      PostMessageA(main, WM_CLOSE, 0, 0);
      WaitForSingleObject(tallsnap.pi.hProcess, 20000);
    }
    tallsnap.Stop();
    target.process.Stop();
    for (const std::string& file : onDesktop) DeleteFileA((Desktop() + "\\" + file).c_str());
    RemoveFolderTree(folder);
  }

  // Started as from its folder; ready when its converter's window is there and its range
  // surfaces are made (the range button is enabled).
  bool StartTallSnap() {
    if (!tallsnap.Start("\"" + folder + "\\TallSnap.exe\"", folder)) return false;
    const bool ready = PumpUntil(
        [&] {
          main = FindProcessWindow(tallsnap.pi.dwProcessId, "NORMAL0", true);
          return main != nullptr && IsWindowEnabled(Control(kIdRangeButton)) && FindWindowA(nullptr, kKelvoTitle);
        },
        30000);
    shots.Shot("started");
    return ready;
  }
  // As the user does: the window's close button.
  void CloseTallSnap() {
    if (!tallsnap.Running()) return;
    if (main != nullptr && IsWindowVisible(main)) {
      const POINT close = NonClientPoint(HTCLOSE);
      if (close.x >= 0) ClickAt(close.x, close.y);
    }
    if (WaitForSingleObject(tallsnap.pi.hProcess, 20000) != WAIT_OBJECT_0) ADD_FAILURE() << "TallSnap did not end";
    tallsnap.Stop();
    // Its converter ends with it.
    PumpUntil([] { return FindWindowA(nullptr, kKelvoTitle) == nullptr; }, 10000);
  }
  // A point of the main window's frame that is this part of it (caption, close button).
  POINT NonClientPoint(LRESULT part) const {
    RECT r{};
    GetWindowRect(main, &r);
    for (int y = r.top + 2; y < r.top + 40; y += 2)
      for (int x = r.right - 2; x > r.left; x -= 2) {
        DWORD_PTR hit = 0;
        SendMessageTimeoutA(main, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &hit);
        if (static_cast<LRESULT>(hit) == part) return POINT{x + (part == HTCLOSE ? -3 : 0), y + 3};
      }
    return POINT{-1, -1};
  }

  HWND Control(int id) const { return GetDlgItem(main, id); }
  bool Shows(int id) const { return IsWindowVisible(Control(id)) != FALSE; }
  void Press(int id) {
    const POINT c = CentreOf(Control(id));
    ClickAt(c.x, c.y);
  }
  bool PressAndSee(int id, int shown) {
    Press(id);
    return PumpUntil([&] { return Shows(shown); }, 10000);
  }

  // Types into a combobox's edit box: click, clear, type, until it shows the text.
  bool TypeInto(HWND combobox, const std::string& text) {
    HWND edit = FindWindowExA(combobox, nullptr, "Edit", nullptr);
    for (int attempt = 0; attempt < 3; ++attempt) {
      const POINT c = CentreOf(edit);
      ClickAt(c.x, c.y);
      Xdotool("key End shift+Home BackSpace");
      if (!PumpUntil([&] { return TextOf(combobox).empty(); }, 3000)) continue;
      Xdotool("type --delay 30 " + text);
      if (PumpUntil([&] { return TextOf(combobox) == text; }, 3000)) return true;
    }
    return false;
  }
  // Opens the format list with its arrow and clicks the item.
  bool PickFormat(int item) {
    HWND box = Control(kIdFormatBox);
    RECT r{};
    GetWindowRect(box, &r);
    ClickAt(r.right - 8, (r.top + r.bottom) / 2);
    HWND list = nullptr;
    if (!PumpUntil([&] { return (list = FindProcessWindow(tallsnap.pi.dwProcessId, "ComboLBox", true)) != nullptr; },
                   5000))
      return false;
    DWORD_PTR itemHeight = 0, top = 0;
    SendMessageTimeoutA(list, LB_GETITEMHEIGHT, 0, 0, SMTO_ABORTIFHUNG, 2000, &itemHeight);
    SendMessageTimeoutA(list, LB_GETTOPINDEX, 0, 0, SMTO_ABORTIFHUNG, 2000, &top);
    POINT origin{0, 0};
    ClientToScreen(list, &origin);
    shots.Shot("format-list");
    ClickAt(origin.x + 30,
            origin.y + (item - static_cast<int>(top)) * static_cast<int>(itemHeight) + static_cast<int>(itemHeight) / 2);
    return PumpUntil([&] { return TextOf(box) == kFormatItems[item].text; }, 5000);
  }
  // "範囲指定する", then a drag across the frozen screen; true once the capture layout shows on a
  // band of that colour (cyan for a range so tall that the first tick ends the capture).
  bool DragRange(int x0, int y0, int x1, int y1, COLORREF band = RGB(255, 0, 0)) {
    Press(kIdRangeButton);
    HWND range = nullptr;
    if (!PumpUntil([&] { return (range = FindProcessWindow(tallsnap.pi.dwProcessId, "NORMAL1", true)) != nullptr; },
                   5000))
      return false;
    const int xm = (x0 + x1) / 2, ym = (y0 + y1) / 2;
    Xdotool("mousemove " + std::to_string(x0) + " " + std::to_string(y0) + " sleep 0.1 mousedown 1 sleep 0.05 " +
            "mousemove " + std::to_string(xm) + " " + std::to_string(ym) + " sleep 0.05 mousemove " +
            std::to_string(x1) + " " + std::to_string(y1) + " sleep 0.05 mouseup 1");
    range_ = RECT{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
    return PumpUntil([&] { return !IsWindowVisible(range) && Shows(kIdFinishButton) && Band() == band; }, 10000);
  }
  int RangeWidth() const { return range_.right - range_.left; }
  int RangeHeight() const { return range_.bottom - range_.top; }

  // The band over the controls: red while capturing, cyan otherwise.
  COLORREF Band() const {
    POINT p{2, 20};
    ClientToScreen(main, &p);
    return ScreenPixel(p.x, p.y);
  }
  // Waits until the preview shows the newest band of a tall image of `used` rows: the program
  // has taken in everything the window showed.
  bool PreviewShows(const ImageRows& image, int used, DWORD timeoutMs = 10000) {
    SIZE size{};
    const std::vector<uint32_t> expected = ExpectedPreview(image, RangeWidth(), RangeHeight(), used, size);
    POINT at{500, 0};
    ClientToScreen(main, &at);
    if (PumpUntil([&] { return ScreenPixels(at.x, at.y, size.cx, size.cy) == expected; }, timeoutMs)) return true;
    shots.Shot("preview-not-at-" + std::to_string(used));
    return false;
  }

  // The target's rows under the range from the offset the capture started at.
  ImageRows TargetRows(int startOffset) const {
    const int dx = range_.left - target.x, dy = startOffset + range_.top - target.y;
    return [dx, dy](int x, int y) { return ContentPixel(dx + x, dy + y); };
  }
  // Rows in use once the capture has followed the target from startOffset to where it stands.
  int RowsFollowed(int startOffset) const { return target.Offset() - startOffset + RangeHeight() - 3; }
  // "見えるようにしたら押してください。", the format picked, the usual range dragged over the
  // target: true once the capture runs; start is where the target stood then.
  bool CaptureOnTarget(int format, int& start) {
    if (!PressAndSee(kIdReadyButton, kIdFormatBox) || !PickFormat(format)) return false;
    shots.Shot("format-picked");
    start = target.Offset();
    if (!DragRange(kRangeX0, kRangeY0, kRangeX1, kRangeY1)) return false;
    shots.Shot("capturing");
    return true;
  }
  // Wheel notches over the target, then the preview showing the capture has followed them.
  bool ScrollAndFollow(int notches, int startOffset) {
    return target.Scroll(notches) && PreviewShows(TargetRows(startOffset), RowsFollowed(startOffset));
  }

  // "終わる" with the save dialog answered by typing; true when the start layout is back.
  bool FinishThroughDialog(const std::string& typed, std::string* title = nullptr) {
    DWORD kelvoPid = 0;
    GetWindowThreadProcessId(FindWindowA(nullptr, kKelvoTitle), &kelvoPid);
    DialogDriver user(kelvoPid, typed);
    char artefacts[MAX_PATH] = {};
    if (GetEnvironmentVariableA("TALLSNAP_ARTEFACTS", artefacts, sizeof artefacts) != 0)
      user.troubleShot = std::string(artefacts) + "/" + shots.name + "-dialog-trouble.png";
    std::thread answering([&] { user.Run(); });
    Press(kIdFinishButton);
    answering.join();
    if (title != nullptr) *title = user.dialogTitle;
    EXPECT_TRUE(user.sawDialog);
    EXPECT_TRUE(user.textMatched) << user.lastText;
    EXPECT_FALSE(user.forcedClose);
    shots.Shot("dialog-answered");
    return Finished();
  }
  bool Finish() {
    Press(kIdFinishButton);
    return Finished();
  }
  // The start layout back, on a cyan band.
  bool Finished() {
    return PumpUntil([&] { return Shows(kIdReadyButton) && Band() == RGB(0, 255, 255); }, 60000);
  }

  static std::string Desktop() {
    char path[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOP, FALSE);
    return path;
  }
  static bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  // The file's picture against the expected rows; prints the figures for the record.
  Fidelity Check(const std::string& file, const ImageRows& image, int width, int height) {
    Picture picture;
    PumpUntil([&] { return DecodeImageFile(file, picture); }, 10000);
    const Fidelity f = CompareWith(picture, image, width, height);
    std::printf("fidelity %s %s: %d rows x %d, %d mismatched rows, %d misplaced, PSNR %.1f dB\n",
                shots.name.c_str(), file.substr(file.find_last_of('\\') + 1).c_str(), f.rows, width,
                f.mismatchedRows, f.misplacedRows, f.psnr);
    return f;
  }
  static bool IsJpeg(const std::string& file) { return file.size() > 4 && file.substr(file.size() - 4) == ".jpg"; }
  void ExpectFaithful(const std::string& file, const ImageRows& image, int width, int height) {
    const Fidelity f = Check(file, image, width, height);
    ASSERT_EQ(f.rows, height) << file;
    if (IsJpeg(file)) {
      EXPECT_GT(f.psnr, kJpegPsnrBound) << file;
      EXPECT_EQ(f.misplacedRows, 0) << file;
    } else {
      EXPECT_EQ(f.mismatchedRows, 0) << file;
    }
  }

  std::string folder;
  ChildProcess tallsnap;
  HWND main = nullptr;
  Target target;
  Artefacts shots{""};
  RECT range_{};
  std::vector<std::string> onDesktop;  // files a test leaves on the desktop, removed after it
};


}  // namespace

TEST_F(EndToEnd, EachFormatThroughTheSaveDialog) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "tall"));
  const struct {
    int format;
    std::string typed;
    std::vector<std::string> files;
  } runs[] = {
      {kPng, folder + "\\tall.png", {"tall.png"}},
      {kBmp, folder + "\\tall.bmp", {"tall.bmp"}},
      {kJpg, folder + "\\tall.jpg", {"tall.jpg"}},
      // The same stem again: numbered, and the number carries over to each of the three.
      {kAllThree, folder + "\\tall.bmp", {"tall001.bmp", "tall001.png", "tall001.jpg"}},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(kFormatItems[run.format].text);
    int start = 0;
    ASSERT_TRUE(CaptureOnTarget(run.format, start));
    // Down, up a little, down again.
    ASSERT_TRUE(ScrollAndFollow(12, start));
    ASSERT_TRUE(ScrollAndFollow(-4, start));
    ASSERT_TRUE(ScrollAndFollow(9, start));
    shots.Shot("scrolled");
    const int rows = RowsFollowed(start);
    std::string title;
    ASSERT_TRUE(FinishThroughDialog(run.typed, &title));
    EXPECT_EQ(title, kSaveDialogTitle);
    for (const std::string& file : run.files) ExpectFaithful(folder + "\\" + file, TargetRows(start), RangeWidth(), rows);
  }
}

TEST_F(EndToEnd, OnTheDesktopAndAgainWithTheSameRange) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  // Not ending in digits, which the numbering would take for its counter.
  const std::string name = "tallsnap-e2e-" + std::to_string(GetCurrentProcessId()) + "-desk";
  onDesktop = {name + ".png", name + "001.png"};
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), name));
  Press(kIdDesktopCheck);
  ASSERT_TRUE(PumpUntil([&] { return SendMessageA(Control(kIdDesktopCheck), BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  EXPECT_FALSE(Shows(kIdSameRangeButton));  // no range yet
  ASSERT_TRUE(PickFormat(kPng));
  int start = target.Offset();
  ASSERT_TRUE(DragRange(kRangeX0, kRangeY0, kRangeX1, kRangeY1));
  ASSERT_TRUE(ScrollAndFollow(10, start));
  int rows = RowsFollowed(start);
  ASSERT_TRUE(Finish());  // no dialog: straight to the desktop
  ExpectFaithful(Desktop() + "\\" + name + ".png", TargetRows(start), RangeWidth(), rows);

  // "前と同じ範囲で": the same rectangle, no drag; the name is taken, so it is numbered.
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdSameRangeButton));
  shots.Shot("same-range-offered");
  start = target.Offset();
  ASSERT_TRUE(PressAndSee(kIdSameRangeButton, kIdFinishButton));
  ASSERT_TRUE(ScrollAndFollow(7, start));
  rows = RowsFollowed(start);
  ASSERT_TRUE(Finish());
  ExpectFaithful(Desktop() + "\\" + name + "001.png", TargetRows(start), RangeWidth(), rows);
}

TEST_F(EndToEnd, CancelMidwayWritesNothing) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "dropped"));
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kBmp, start));
  ASSERT_TRUE(ScrollAndFollow(8, start));
  ASSERT_TRUE(PressAndSee(kIdCancelButton, kIdReadyButton));
  shots.Shot("cancelled");
  EXPECT_TRUE(PumpUntil([&] { return Band() == RGB(0, 255, 255); }, 5000));
  // Nothing was written, here or on the desktop.
  WIN32_FIND_DATAA found;
  for (const std::string& pattern : {folder + "\\dropped*", Desktop() + "\\dropped*"}) {
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
  }

  // The next capture starts afresh and is whole.
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdSameRangeButton));
  start = target.Offset();
  ASSERT_TRUE(PressAndSee(kIdSameRangeButton, kIdFinishButton));
  ASSERT_TRUE(ScrollAndFollow(5, start));
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\dropped.bmp"));
  ExpectFaithful(folder + "\\dropped.bmp", TargetRows(start), RangeWidth(), rows);
  EXPECT_FALSE(Exists(folder + "\\dropped001.bmp"));
}

TEST_F(EndToEnd, TheRowLimitStopsTheImage) {
  // A tall window scrolled far: 48 pixels a notch, as a text view moving three lines.
  constexpr int kPerNotch = 48;
  ASSERT_TRUE(target.Start(600, 100, 500, 900, kPerNotch));
  ASSERT_TRUE(StartTallSnap());
  Press(kIdDesktopCheck);
  const std::string name = "tallsnap-limit-" + std::to_string(GetCurrentProcessId()) + "-top";
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), name));
  onDesktop = {name + ".bmp"};
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  const int start = target.Offset();
  ASSERT_TRUE(DragRange(620, 110, 1080, 990));
  const int h = RangeHeight();
  // Bursts while far from the limit, then a notch at a time, each taken in before the next.
  int rows = RowsFollowed(start);
  while (Band() == RGB(255, 0, 0) && target.Offset() < kContentRows - target.height) {
    const int notches = rows + 4 * kPerNotch <= 4000 - h ? 4 : 1;
    ASSERT_TRUE(target.Scroll(notches, kPerNotch));
    const bool caughtUp = PreviewShows(TargetRows(start), RowsFollowed(start), 3000);
    if (!caughtUp) break;  // the limit: the image did not follow
    rows = RowsFollowed(start);
  }
  shots.Shot("limit");
  ASSERT_TRUE(PumpUntil([&] { return Band() == RGB(0, 255, 255); }, 5000));
  EXPECT_GT(rows, 4000 - h);
  EXPECT_LE(rows, 4000);
  // It stays as it was, whatever is scrolled after.
  ASSERT_TRUE(target.Scroll(2, kPerNotch));
  EXPECT_TRUE(PreviewShows(TargetRows(start), rows, 2000));
  ASSERT_TRUE(Finish());
  ExpectFaithful(Desktop() + "\\" + name + ".bmp", TargetRows(start), RangeWidth(), rows);
}

namespace {

// The program's memory seen from outside while it works: its private bytes at their highest and
// its largest free range of addresses at its smallest, sampled every 50 ms until Stop().
struct MemoryWatch {
  explicit MemoryWatch(DWORD pid) : process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)) {
    worker = std::thread([this] {
      while (!stop) {
        Sample();
        Sleep(50);
      }
    });
  }
  ~MemoryWatch() { Stop(); }
  void Stop() {
    stop = true;
    if (worker.joinable()) worker.join();
    if (process != nullptr) CloseHandle(process);
    process = nullptr;
  }
  void Sample() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    // Private bytes are the commit charge, which Windows also reports as PagefileUsage; Wine
    // fills only that one for another process (from the resident anonymous memory).
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
      peakPrivate = std::max<SIZE_T>(peakPrivate, std::max(counters.PrivateUsage, counters.PagefileUsage));
    uintptr_t at = 0, largest = 0;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQueryEx(process, reinterpret_cast<void*>(at), &region, sizeof region) == sizeof region) {
      if (region.State == MEM_FREE) largest = std::max<uintptr_t>(largest, region.RegionSize);
      const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
      if (next <= at) break;  // the top of the address space
      at = next;
    }
    if (largest == 0) return;
    if (samples++ == 0) firstLargestFree = largest;
    leastLargestFree = std::min<uintptr_t>(leastLargestFree, largest);
  }
  HANDLE process;
  std::atomic<bool> stop{false};
  std::thread worker;
  SIZE_T peakPrivate = 0;
  uintptr_t firstLargestFree = 0, leastLargestFree = UINTPTR_MAX;
  int samples = 0;
};

}  // namespace

// The largest capture the program holds: a range over a whole 3840 x 2160 screen, whose first
// tick ends the capture (a range over 2000 rows fills the 4006-row image at once), written in all
// three formats. The test command runs it alone, on a screen of that size.
TEST_F(EndToEnd, TheLargestCaptureOnA4kScreen) {
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width != 3840 || height != 2160) GTEST_SKIP() << "needs a 3840 x 2160 screen, which the test command gives it";
  ASSERT_TRUE(target.Start(0, 0, width, height));
  ASSERT_TRUE(StartTallSnap());
  MemoryWatch memory(tallsnap.pi.dwProcessId);
  const std::string name = "tallsnap-4k-" + std::to_string(GetCurrentProcessId()) + "-top";
  onDesktop = {name + ".bmp", name + ".png", name + ".jpg"};
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), name));
  Press(kIdDesktopCheck);
  ASSERT_TRUE(PumpUntil([&] { return SendMessageA(Control(kIdDesktopCheck), BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kAllThree));
  ASSERT_TRUE(DragRange(0, 0, width - 1, height - 1, RGB(0, 255, 255)));
  shots.Shot("whole-screen");
  RECT own{};
  GetWindowRect(main, &own);
  ASSERT_TRUE(Finish());
  memory.Stop();
  std::printf("memory %s: peak private bytes %.1f MB; largest free range of addresses %.1f MB before the capture, "
              "%.1f MB at its smallest (%d samples)\n",
              shots.name.c_str(), memory.peakPrivate / 1048576.0, memory.firstLargestFree / 1048576.0,
              memory.leastLargestFree / 1048576.0, memory.samples);
  EXPECT_GT(memory.samples, 0);
  // The screen as it stood, but where TallSnap's own window lies over the target.
  for (const std::string& file : onDesktop) {
    Picture written;
    ASSERT_TRUE(PumpUntil([&] { return DecodeImageFile(Desktop() + "\\" + file, written); }, 10000)) << file;
    const ImageRows screen = [&](int x, int y) {
      if (x < own.left || x >= own.right || y < own.top || y >= own.bottom) return ContentPixel(x, y);
      const BYTE* p = &written.bgr[(static_cast<size_t>(y) * written.width + x) * 3];
      return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    };
    // The image is the first grab alone, and the finish trim leaves out its last row.
    ExpectFaithful(Desktop() + "\\" + file, screen, RangeWidth(), RangeHeight() - 1);
  }
}

// Users may drop a rebuilt converter beside an older program: the 32-bit program with the
// x86_64 Kelvo.exe (the x86_64 program with the shipped one) exchange the save location and
// convert a JPEG as a matched pair does.
TEST_F(EndToEnd, AConverterOfTheOtherPointerSize) {
  const std::string other = OtherSizeKelvo();
  ASSERT_FALSE(other.empty()) << "TALLSNAP_WIN64_DIR and TALLSNAP_PACKAGE_DIR must name both builds";
  ASSERT_TRUE(CopyFileA(other.c_str(), (folder + "\\Kelvo.exe").c_str(), FALSE)) << other;
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  DWORD kelvoPid = 0;
  GetWindowThreadProcessId(FindWindowA(nullptr, kKelvoTitle), &kelvoPid);
  auto underWow64 = [](DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    BOOL wow64 = FALSE;
    EXPECT_TRUE(process != nullptr && IsWow64Process(process, &wow64)) << pid;
    if (process != nullptr) CloseHandle(process);
    return wow64 != FALSE;
  };
  EXPECT_NE(underWow64(tallsnap.pi.dwProcessId), underWow64(kelvoPid));
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "mixed"));
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kJpg, start));
  ASSERT_TRUE(ScrollAndFollow(8, start));
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\mixed.jpg"));
  ExpectFaithful(folder + "\\mixed.jpg", TargetRows(start), RangeWidth(), rows);
}

// As many programs scroll: the window's own pixels copied up on the screen, so that whatever is
// drawn over them travels with the content, and the uncovered rows painted 20 to 80 ms later.
// Quick bursts of wheel notches, now and then back up: the image holds no frame and no
// half-painted rows.
TEST_F(EndToEnd, ATargetThatCopiesItsPixelsAndPaintsLate) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH, kPixelsPerNotch, "late"));
  ASSERT_TRUE(StartTallSnap());
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kBmp, start));
  // The frame shows round the range as ever, in windows of its own.
  for (const FrameBlock& b : DashedFrameBlocks(range_.left - 3, range_.top - 3, range_.right + 3, range_.bottom + 3, 2))
    EXPECT_EQ(ScreenPixel(b.x + b.w / 2, b.y + b.h / 2), b.black ? RGB(0, 0, 0) : RGB(255, 255, 255))
        << b.x << "," << b.y;
  for (int burst = 0; burst < 20; ++burst) {
    const int notches = (burst % 6 == 5 ? -1 : 1) * (3 + burst % 3);
    ASSERT_TRUE(target.Burst(notches, 50 + (burst * 13) % 31)) << burst;
    ASSERT_TRUE(PreviewShows(TargetRows(start), RowsFollowed(start))) << burst;
  }
  shots.Shot("scrolled");
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\late.bmp"));
  ExpectFaithful(folder + "\\late.bmp", TargetRows(start), RangeWidth(), rows);
}

TEST_F(EndToEnd, TheClipboardGetsTheImage) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kClipboard, start));
  ASSERT_TRUE(ScrollAndFollow(6, start));
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(Finish());
  EXPECT_FALSE(Exists(folder + "\\clpbd.bmp"));  // the file it went through is gone

  Picture picture;
  ASSERT_TRUE(ClipboardPicture(picture));
  const Fidelity f = CompareWith(picture, TargetRows(start), RangeWidth(), rows);
  std::printf("fidelity %s clipboard: %d rows x %d, %d mismatched rows\n", shots.name.c_str(), f.rows, RangeWidth(),
              f.mismatchedRows);
  EXPECT_EQ(f.rows, rows);
  EXPECT_EQ(f.mismatchedRows, 0);
}

TEST_F(EndToEnd, AFlickPastTheRangeAndBackLeavesNoSeam) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kPng, start));
  ASSERT_TRUE(ScrollAndFollow(6, start));
  const int before = RowsFollowed(start);
  // Too far at once: nothing of the image is in view, and it waits.
  ASSERT_TRUE(target.Flick());
  shots.Shot("flicked");
  EXPECT_TRUE(PreviewShows(TargetRows(start), before, 2000));
  // Back up until the image's end is in view again: it continues from there.
  const int overlapAt = start + before - RangeHeight() + 3 + 60;  // 60 rows of the image in view
  ASSERT_TRUE(ScrollAndFollow(-((target.Offset() - overlapAt) / kPixelsPerNotch), start));
  ASSERT_TRUE(ScrollAndFollow(15, start));
  const int rows = RowsFollowed(start);
  EXPECT_GT(rows, before + 100);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\flick.png"));
  ExpectFaithful(folder + "\\flick.png", TargetRows(start), RangeWidth(), rows);
}

TEST_F(EndToEnd, ASecondRunRemembersFolderFormatAndPlace) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  const std::string saved = MakeTempFolder();
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kBmp, start));
  ASSERT_TRUE(ScrollAndFollow(3, start));
  ASSERT_TRUE(FinishThroughDialog(saved + "\\first.bmp"));
  EXPECT_TRUE(Exists(saved + "\\first.bmp"));
  // The window dragged by its caption to another place (straight down, where the target never
  // covers its preview), then closed with its button.
  const POINT caption = NonClientPoint(HTCAPTION);
  ASSERT_GE(caption.x, 0);
  RECT before{};
  GetWindowRect(main, &before);
  Xdotool("mousemove " + std::to_string(caption.x) + " " + std::to_string(caption.y) +
          " sleep 0.1 mousedown 1 sleep 0.1 mousemove " + std::to_string(caption.x) + " " +
          std::to_string(caption.y + 500) + " sleep 0.1 mousemove " + std::to_string(caption.x) + " " +
          std::to_string(caption.y + 860) + " sleep 0.1 mouseup 1");
  RECT moved{};
  ASSERT_TRUE(PumpUntil([&] { GetWindowRect(main, &moved); return moved.top == before.top + 860; }, 5000));
  shots.Shot("moved");
  CloseTallSnap();

  ASSERT_TRUE(StartTallSnap());
  RECT again{};
  GetWindowRect(main, &again);
  EXPECT_EQ(again.left, moved.left);
  EXPECT_EQ(again.top, moved.top);
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  EXPECT_EQ(TextOf(Control(kIdFormatBox)), kFormatItems[kBmp].text);
  EXPECT_FALSE(Shows(kIdSameRangeButton));  // the range is not kept between runs
  start = target.Offset();
  ASSERT_TRUE(DragRange(kRangeX0, kRangeY0, kRangeX1, kRangeY1));
  ASSERT_TRUE(ScrollAndFollow(3, start));
  const int rows = RowsFollowed(start);
  // A bare name: the dialog opens in the folder chosen last time.
  ASSERT_TRUE(FinishThroughDialog("second.bmp"));
  ExpectFaithful(saved + "\\second.bmp", TargetRows(start), RangeWidth(), rows);
  RemoveFolderTree(saved);
}

namespace {

// The range's pixels as they stand on the screen, in rows.
std::vector<std::vector<uint32_t>> RangeRows(const RECT& range) {
  const int w = range.right - range.left, h = range.bottom - range.top;
  const std::vector<uint32_t> pixels = ScreenPixels(range.left, range.top, w, h);
  std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) rows[y].assign(pixels.begin() + static_cast<ptrdiff_t>(y) * w, pixels.begin() + static_cast<ptrdiff_t>(y + 1) * w);
  return rows;
}

// Rows of b are rows of a moved up by shift. The last rows are left out: a text view leaves a
// line that does not fit whole blank until it is scrolled up.
bool MovedUpBy(const std::vector<std::vector<uint32_t>>& a, const std::vector<std::vector<uint32_t>>& b, int shift) {
  constexpr size_t kPartLine = 24;
  for (size_t y = 0; y + static_cast<size_t>(shift) + kPartLine < a.size(); ++y)
    if (b[y] != a[y + static_cast<size_t>(shift)]) return false;
  return true;
}

}  // namespace

// A window nobody here wrote: Wine's Notepad showing a long text, scrolled by the wheel. The
// tall image is checked against screenshots of the same range taken a notch apart beforehand.
TEST_F(EndToEnd, ALongTextInNotepad) {
  // Prose-like lines: words drawn afresh for each line, so no two lines share their letters'
  // places. (Lines that differ only in a few digits can look alike at the columns TallSnap
  // compares, and then a capture may join at the wrong line.)
  static const char* const kWords[] = {"tall", "snap", "window", "scroll", "the", "a", "of", "image", "row",
                                       "stitch", "grab", "quick", "brown", "fox", "jumps", "over", "lazy", "dog",
                                       "Kelvo", "Tarvin", "wheel", "notch", "page", "line", "text", "view"};
  std::string text;
  uint32_t draw = 12345;
  for (int i = 0; i < 400; ++i) {
    std::string line = std::to_string(i) + ":";
    while (line.size() < static_cast<size_t>(60 + i % 23)) {
      draw = draw * 1103515245u + 12345u;
      line += std::string(" ") + kWords[(draw >> 16) % (sizeof kWords / sizeof kWords[0])];
    }
    text += line + "\r\n";
  }
  WriteFileBytes(folder + "\\long.txt", text);
  ChildProcess notepad;
  ASSERT_TRUE(notepad.Start("notepad.exe \"" + folder + "\\long.txt\"", folder));
  HWND window = nullptr, edit = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        window = FindProcessWindow(notepad.pi.dwProcessId, "Notepad", true);
        edit = window != nullptr ? FindWindowExA(window, nullptr, "Edit", nullptr) : nullptr;
        return edit != nullptr && IsWindowVisible(edit);
      },
      20000));
  ASSERT_TRUE(StartTallSnap());
  RECT main{}, view{}, placed{};
  GetWindowRect(this->main, &main);
  // Under Wine without a window manager an activated window rises over TallSnap's topmost one:
  // Notepad is dragged by its caption to below it first, as a user would.
  GetWindowRect(window, &placed);
  const int grabX = std::max<int>(placed.left + 20, main.right + 20), grabY = placed.top + 10;
  const int drop = main.bottom + 20 - placed.top;
  Xdotool("mousemove " + std::to_string(grabX) + " " + std::to_string(grabY) + " sleep 0.1 mousedown 1 sleep 0.1 " +
          "mousemove " + std::to_string(grabX) + " " + std::to_string(grabY + drop / 2) + " sleep 0.1 mousemove " +
          std::to_string(grabX) + " " + std::to_string(grabY + drop) + " sleep 0.1 mouseup 1");
  ASSERT_TRUE(PumpUntil([&] { GetWindowRect(window, &placed); return placed.top >= main.bottom; }, 5000));
  GetWindowRect(edit, &view);
  RECT client{};
  GetClientRect(edit, &client);
  POINT clientBottom{0, client.bottom};
  ClientToScreen(edit, &clientBottom);
  // Clear of TallSnap's window, of the caret at the start of the first line and of the scroll
  // bar. The screenshots reach down to the end of the text area; the range's last row is
  // chosen from them below.
  range_ = RECT{view.left + 40, std::max<LONG>(view.top, main.bottom) + 20, view.left + 640, clientBottom.y - 1};
  ASSERT_GE(range_.bottom - range_.top, 300);
  auto firstLine = [&] {
    DWORD_PTR line = 0;
    SendMessageTimeoutA(edit, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, 2000, &line);
    return static_cast<int>(line);
  };
  // Notepad takes the focus by its caption, which leaves the caret where it is.
  auto focusNotepad = [&] {
    RECT r{};
    GetWindowRect(window, &r);
    ClickAt(std::max<int>(r.left + 20, main.right + 20), r.top + 10);
    return PumpUntil([&] { return GetForegroundWindow() == window; }, 5000);
  };
  // A notch at a time: with notches 90 ms apart Notepad under Wine shows half-scrolled states
  // (the text moved up, the uncovered lines not yet drawn), and a grab of one repeats a notch.
  auto wheel = [&](int notches) {
    const std::string button = notches > 0 ? "5" : "4";
    for (int left = std::abs(notches); left > 0; --left)
      Xdotool("mousemove " + std::to_string(range_.left + 300) + " " + std::to_string(range_.top + 100) +
              " click " + button + " sleep 0.4");
  };

  // Screenshots a notch apart: each the one before moved up by three lines, once painted.
  constexpr int kNotches = 12;
  ASSERT_TRUE(focusNotepad());
  std::vector<std::vector<std::vector<uint32_t>>> shots_{RangeRows(range_)};
  int shift = 0;
  for (int k = 1; k <= kNotches; ++k) {
    wheel(1);
    ASSERT_TRUE(PumpUntil(
        [&] {
          if (firstLine() != 3 * k) return false;
          const auto now = RangeRows(range_);
          if (shift == 0)
            for (int s = 1; s < RangeHeight() / 2 && shift == 0; ++s)
              if (MovedUpBy(shots_[0], now, s)) shift = s;
          if (shift == 0 || !MovedUpBy(shots_.back(), now, shift)) return false;
          shots_.push_back(now);
          return true;
        },
        10000))
        << "notch " << k;
  }
  shots.Shot("notepad-screenshots");
  std::printf("notepad: a notch moves %d pixel rows\n", shift);
  wheel(-kNotches);
  ASSERT_TRUE(PumpUntil([&] { return firstLine() == 0 && RangeRows(range_) == shots_[0]; }, 10000));
  // The range ends on a row that crosses letters and, at the columns TallSnap compares, differs
  // between any two of the screenshots: a last row that looks the same after a scroll would
  // make TallSnap take the grab for one where nothing moved, and the capture would stop short.
  const int width = RangeWidth();
  const int step = StitchColumnsFor(width).step;
  auto telling = [&](int row) {
    const auto& first = shots_[0][static_cast<size_t>(row)];
    if (std::count(first.begin(), first.end(), 0x00FFFFFFu) > static_cast<long>(first.size()) - 40) return false;
    for (int j = 0; j < kNotches; ++j) {
      bool differs = false;
      for (int c = 0; c < width && !differs; c += step)
        differs = shots_[static_cast<size_t>(j)][static_cast<size_t>(row)][static_cast<size_t>(c)] !=
                  shots_[kNotches][static_cast<size_t>(row)][static_cast<size_t>(c)];
      if (!differs) return false;
    }
    return true;
  };
  int lastRow = RangeHeight() - 20;
  while (lastRow > RangeHeight() - 80 && !telling(lastRow)) --lastRow;
  ASSERT_TRUE(telling(lastRow));
  range_.bottom = range_.top + lastRow + 1;
  for (auto& shot : shots_) shot.resize(static_cast<size_t>(RangeHeight()));
  // The tall image those screenshots make: row y from the last screenshot that has it.
  const ImageRows expected = [&](int x, int y) {
    const int k = std::min(kNotches, y / shift);
    return shots_[static_cast<size_t>(k)][static_cast<size_t>(y - k * shift)][static_cast<size_t>(x)];
  };

  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  const RECT chosen = range_;
  ASSERT_TRUE(DragRange(chosen.left, chosen.top, chosen.right, chosen.bottom));
  ASSERT_TRUE(focusNotepad());
  wheel(kNotches);
  ASSERT_TRUE(PumpUntil([&] { return firstLine() == 3 * kNotches; }, 10000));
  const int rows = kNotches * shift + RangeHeight() - 3;
  ASSERT_TRUE(PreviewShows(expected, rows));
  shots.Shot("notepad-captured");
  ASSERT_TRUE(FinishThroughDialog(folder + "\\notepad.bmp"));
  ExpectFaithful(folder + "\\notepad.bmp", expected, RangeWidth(), rows);
}

// The run command's demonstration: one capture of the scroll target, saved as PNG through the
// save dialog; with TALLSNAP_DEMO_OUT set (a Linux folder) the tall image is copied there.
TEST_F(EndToEnd, Demonstration) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "demo"));
  shots.Shot("named");
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kPng, start));
  ASSERT_TRUE(target.Scroll(30));
  ASSERT_TRUE(target.Scroll(-6));
  ASSERT_TRUE(ScrollAndFollow(18, start));
  shots.Shot("scrolled");
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\demo.png"));
  shots.Shot("finished");
  ExpectFaithful(folder + "\\demo.png", TargetRows(start), RangeWidth(), rows);
  char out[MAX_PATH] = {};
  if (GetEnvironmentVariableA("TALLSNAP_DEMO_OUT", out, sizeof out) != 0) {
    const std::string copy = WindowsPathOf(std::string(out) + "/tall-image.png");
    EXPECT_TRUE(CopyFileA((folder + "\\demo.png").c_str(), copy.c_str(), FALSE));
  }
}
