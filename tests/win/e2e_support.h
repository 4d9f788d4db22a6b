// A person at the screen: TallSnap.exe runs as a process of its own, and everything it is told
// goes through the mouse and keyboard (xdotool); everything learnt of it comes from its windows,
// the screen, its files and the clipboard.
#ifndef TALLSNAP_TESTS_WIN_E2E_SUPPORT_H
#define TALLSNAP_TESTS_WIN_E2E_SUPPORT_H

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/main_wnd_core.h"
#include "output/finish_core.h"
#include "scroll_content.h"
#include "win_test_support.h"

// A child process that is ended when the record goes, so a failing test leaves nothing behind.
struct ChildProcess {
  PROCESS_INFORMATION pi{};
  ~ChildProcess() { Stop(); }
  // With an output handle, the process and whatever it starts write there instead of ours.
  bool Start(const std::string& commandLine, const std::string& folder, HANDLE output = nullptr);
  void Stop();
  bool Running() const;
};

// Screenshots of each step, kept as test artefacts in the Linux folder named by
// TALLSNAP_ARTEFACTS (nothing is kept when it is not set). On a scaled screen the names carry
// its DPI, so that they stand beside those of the usual run.
struct Artefacts {
  explicit Artefacts(std::string run) : name(std::move(run)) {}
  // The whole screen, or only this rectangle of it.
  void Shot(const std::string& step, const RECT* area = nullptr);
  std::string name;
  int count = 0;
};

// Where the programs under test come from: the Linux folder in TALLSNAP_PROGRAMS_DIR, which the
// test command sets to the unpacked release package (or, on a machine that runs no 32-bit
// program, to the x86_64 build), and the run command to its working folder; without it, the
// programs built beside the test.
std::string ProgramFolder();
// A Kelvo.exe of the other pointer size, for a program and converter of mixed builds: the
// x86_64 build's (Linux folder in TALLSNAP_WIN64_DIR) beside the 32-bit program, the shipped one
// beside the x86_64 program. Empty when its folder is not named.
std::string OtherSizeKelvo();

void Xdotool(const std::string& args);
void ClickAt(int x, int y);
POINT CentreOf(HWND window);

// The text of a window of another process.
std::string TextOf(HWND window);

// A rectangle of the screen as 0x00RRGGBB pixels, top-down.
std::vector<uint32_t> ScreenPixels(int x, int y, int width, int height);

// The clipboard's bitmap as a picture; false when there is none.
bool ClipboardPicture(Picture& picture);

// A tall image the test expects, row y and column x as 0x00RRGGBB.
using ImageRows = std::function<uint32_t(int x, int y)>;

// What the main window's preview shows when the tall image (rangeWidth wide, its rows given by
// image) has `used` rows in use: the newest band, rangeHeight rows, shrunk to previewHeight
// pixels (40 at 96 DPI, more on a scaled screen).
std::vector<uint32_t> ExpectedPreview(const ImageRows& image, int rangeWidth, int rangeHeight, int used,
                                      int previewHeight, SIZE& size);

// How a decoded picture holds up against the expected image. A lossy picture differs in every
// row, so for it the telling figure is misplacedRows: rows closer to another expected row within
// 8 of theirs than to their own, which is what a seam or a shift leaves.
struct Fidelity {
  int rows = 0;
  int mismatchedRows = 0;
  int misplacedRows = 0;
  double psnr = 0;
};
Fidelity CompareWith(const Picture& picture, const ImageRows& image, int width, int height);

// Where a lossless picture's rows came from, against the expected image of the given size: rows
// at their own place, extra copies of expected rows, expected rows found nowhere, and rows found
// nowhere in the expected image (a frame's marks, half-painted mixtures).
struct RowAccount {
  int inPlace = 0, repeated = 0, missing = 0, foreign = 0;
};
RowAccount AccountRows(const Picture& picture, const ImageRows& image, int width, int height);
Picture PictureOf(const ImageRows& image, int width, int height);

using ScreenRows = std::vector<std::vector<uint32_t>>;

// The range's pixels as they stand on the screen, in rows.
ScreenRows RangeRows(const RECT& range);

// Lines of prose: words drawn afresh for each line, every line different.
std::string ProseText(int lines, uint32_t seed);

// A Linux file of the test's, removed however the test ends.
struct TempFile {
  std::string path;
  ~TempFile() { DeleteFileA(WindowsPathOf(path).c_str()); }
};

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

// The end-to-end cases: TallSnap.exe copied with its converters into a folder of the test's,
// started from there and driven as a person does.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    const std::string programs = ProgramFolder();
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
  // The name typed and "デスクトップに保存" checked: the finish writes there, with no dialog.
  bool NameForTheDesktop(const std::string& name) {
    if (!TypeInto(Control(kIdNameBox), name)) return false;
    Press(kIdDesktopCheck);
    return PumpUntil([&] { return SendMessageA(Control(kIdDesktopCheck), BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000);
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

  // The band over the controls: red while capturing (yellow when it cannot follow), cyan otherwise.
  COLORREF Band() const {
    POINT p{2, 20};
    ClientToScreen(main, &p);
    return ScreenPixel(p.x, p.y);
  }
  // Waits until the preview shows the newest band of a tall image of `used` rows: the program
  // has taken in everything the window showed.
  bool PreviewShows(const ImageRows& image, int used, DWORD timeoutMs = 10000) {
    // Its place and height follow the screen's scale; the image itself is in the screen's pixels.
    const int dpi = ScreenDpi();
    SIZE size{};
    const std::vector<uint32_t> expected =
        ExpectedPreview(image, RangeWidth(), RangeHeight(), used, ScaleToDpi(40, dpi), size);
    POINT at{ScaleToDpi(500, dpi), 0};
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

  // "終わる" with the save dialog answered by typing (cancelled when nothing is typed), which
  // the user's keys closed.
  DialogDriver FinishAnsweringTheDialog(const std::string& typed) {
    DWORD kelvoPid = 0;
    GetWindowThreadProcessId(FindWindowA(nullptr, kKelvoTitle), &kelvoPid);
    DialogDriver user(kelvoPid, typed);
    char artefacts[MAX_PATH] = {};
    if (GetEnvironmentVariableA("TALLSNAP_ARTEFACTS", artefacts, sizeof artefacts) != 0)
      user.troubleShot = std::string(artefacts) + "/" + shots.name + "-dialog-trouble.png";
    user.AnswerWhile([&] { Press(kIdFinishButton); });
    EXPECT_TRUE(user.sawDialog);
    EXPECT_FALSE(user.forcedClose);
    return user;
  }
  // "終わる" with the save dialog answered by typing; true when the start layout is back.
  bool FinishThroughDialog(const std::string& typed, std::string* title = nullptr) {
    const DialogDriver user = FinishAnsweringTheDialog(typed);
    if (title != nullptr) *title = user.dialogTitle;
    EXPECT_TRUE(user.textMatched) << user.lastText;
    shots.Shot("dialog-answered");
    return Finished();
  }
  // The message box TallSnap shows (nullptr when none comes), and what it says.
  HWND MessageShown(std::string& said) {
    HWND message = nullptr;
    if (!PumpUntil([&] { return (message = FindProcessWindow(tallsnap.pi.dwProcessId, "#32770", true)) != nullptr; },
                   10000))
      return nullptr;
    char text[1024] = {};
    GetDlgItemTextA(message, 0xFFFF, text, sizeof text);
    said = text;
    return message;
  }
  // "終わる" with the save dialog cancelled; true when the kept layout shows, with no message.
  bool FinishAndCancelTheDialog() {
    FinishAnsweringTheDialog("");
    const bool kept = PumpUntil([&] { return Shows(kIdFormatBox) && Shows(kIdFinishButton) && !Shows(kIdReadyButton); },
                                10000);
    shots.Shot("dialog-cancelled");
    EXPECT_EQ(FindProcessWindow(tallsnap.pi.dwProcessId, "#32770", true), nullptr);
    return kept;
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
    char artefacts[MAX_PATH] = {};
    if (f.mismatchedRows != 0 && !IsJpeg(file) &&
        GetEnvironmentVariableA("TALLSNAP_ARTEFACTS", artefacts, sizeof artefacts) != 0)
      CopyFileA(file.c_str(), WindowsPathOf(std::string(artefacts) + "/" + shots.name + "-" +
                                            file.substr(file.find_last_of('\\') + 1)).c_str(), FALSE);
    if (!IsJpeg(file)) {
      const RowAccount a = AccountRows(picture, image, width, height);
      std::printf("rows %s: %d of %d in place, %d repeated, %d missing, %d foreign\n", shots.name.c_str(), a.inPlace,
                  height, a.repeated, a.missing, a.foreign);
    }
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

  // A program's view wheeled up from its end, the ground truth taken `steps` notches down from
  // there and the view back at its start; then TallSnap started, the format picked and the range
  // dragged.
  template <typename Program, typename Truth>
  bool CaptureOnScrollBack(Program& program, const RECT& range, int notchesUp, int steps, int format, Truth& truth) {
    if (!program.WheelUp(range, notchesUp) || !truth.Take(range, steps, [&] { program.Wheel(1); })) return false;
    program.Wheel(-steps);
    return truth.Shows(0) && StartTallSnap() && PressAndSee(kIdReadyButton, kIdFormatBox) && PickFormat(format) &&
           DragRange(range.left, range.top, range.right, range.bottom);
  }

  // A page of the test's in chromium, captured as BMP while the wheel takes it down in bursts
  // to its end, then checked against the same page shown whole (see its definition).
  // floating: a corner of the view, in its own coordinates, where buttons float over the page:
  // judged nowhere on the screen, and in the image's last screen as the screen shows them.
  void CaptureWebPage(const std::string& html, bool scrollBar = false, RECT floating = RECT{});
  // A long log in Wine's Notepad over its status bar, wheeled down a notch at a time; with
  // `scrollBar`, the range takes in the text area's scroll bar as well, which is not judged.
  void CaptureNotepad(bool scrollBar);

  std::string folder;
  ChildProcess tallsnap;
  HWND main = nullptr;
  Target target;
  Artefacts shots{""};
  RECT range_{};
  std::vector<std::string> onDesktop;  // files a test leaves on the desktop, removed after it
};

#endif
