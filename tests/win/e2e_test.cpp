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
#include <fstream>
#include <iterator>
#include <thread>

#include "app/main_wnd_core.h"
#include "capture/stitch.h"
#include "e2e_support.h"
#include "output/finish_core.h"
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
  void CaptureWebPage(const std::string& html, bool scrollBar = false);

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
  ASSERT_TRUE(NameForTheDesktop(name));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  EXPECT_FALSE(Shows(kIdSameRangeButton));  // no range yet
  ASSERT_TRUE(PickFormat(kPng));
  int start = target.Offset();
  ASSERT_TRUE(DragRange(kRangeX0, kRangeY0, kRangeX1, kRangeY1));
  ASSERT_TRUE(ScrollAndFollow(10, start));
  int rows = RowsFollowed(start);
  ASSERT_TRUE(Finish());  // no dialog: straight to the desktop
  ExpectFaithful(Desktop() + "\\" + name + ".png", TargetRows(start), RangeWidth(), rows);

  // "前と同じ範囲で": the same rectangle, no drag. The name typed this time is one Windows refuses
  // ("12:30" would be a stream of a file "12" on NTFS): the message names the character, and once
  // it is closed the name box is there beside "終わる" to put the name right. The name is taken,
  // so it is numbered.
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "12:30"));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdSameRangeButton));
  shots.Shot("same-range-offered");
  start = target.Offset();
  ASSERT_TRUE(PressAndSee(kIdSameRangeButton, kIdFinishButton));
  ASSERT_TRUE(ScrollAndFollow(7, start));
  rows = RowsFollowed(start);
  Press(kIdFinishButton);
  std::string said;
  const HWND message = MessageShown(said);
  ASSERT_NE(message, nullptr);
  EXPECT_NE(said.find("「:」"), std::string::npos) << said;
  shots.Shot("a-name-refused");
  const POINT ok = CentreOf(FindWindowExA(message, nullptr, "Button", nullptr));
  ClickAt(ok.x, ok.y);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(message); }, 5000));
  EXPECT_TRUE(Shows(kIdFinishButton) && Shows(kIdDesktopCheck) && Shows(kIdFormatBox));
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), name));
  shots.Shot("the-name-put-right");
  ASSERT_TRUE(Finish());
  EXPECT_FALSE(Exists(Desktop() + "\\12"));
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

// The program's memory seen from outside while it works: its private bytes and its addresses in
// use (its pixels are mapped files, which private bytes leave out) at their highest, and its
// largest free range of addresses at its smallest, sampled every 50 ms until Stop().
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
    uintptr_t at = 0, largest = 0, inUse = 0;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQueryEx(process, reinterpret_cast<void*>(at), &region, sizeof region) == sizeof region) {
      if (region.State == MEM_FREE) largest = std::max<uintptr_t>(largest, region.RegionSize);
      if (region.State != MEM_FREE) inUse += region.RegionSize;
      const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
      if (next <= at) break;  // the top of the address space
      at = next;
    }
    if (largest == 0) return;
    peakInUse = std::max(peakInUse, inUse);
    if (samples++ == 0) firstLargestFree = largest;
    leastLargestFree = std::min<uintptr_t>(leastLargestFree, largest);
  }
  HANDLE process;
  std::atomic<bool> stop{false};
  std::thread worker;
  SIZE_T peakPrivate = 0;
  uintptr_t firstLargestFree = 0, leastLargestFree = UINTPTR_MAX, peakInUse = 0;
  int samples = 0;
};

// The screen's size. When the test command gave the run a screen of its own (TALLSNAP_SCREEN,
// "3840x2160"), it waits for Wine to tell that size: just after a new X server Wine may still
// tell the one it had before, until its desktop has read the new one.
SIZE ScreenSize() {
  char given[32] = {};
  int w = 0, h = 0;
  const auto now = [] { return SIZE{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; };
  if (GetEnvironmentVariableA("TALLSNAP_SCREEN", given, sizeof given) != 0 && std::sscanf(given, "%dx%d", &w, &h) == 2 &&
      !PumpUntil([&] { return now().cx == w && now().cy == h; }, 20000))
    ADD_FAILURE() << "Wine tells a screen of " << now().cx << " x " << now().cy << ", not the " << given
                  << " the test command gave";
  return now();
}

}  // namespace

// The largest capture the program holds: a range over a whole 3840 x 2160 screen, whose first
// tick ends the capture (a range over 2000 rows fills the 4006-row image at once), written in all
// three formats. The test command runs it alone, on a screen of that size.
TEST_F(EndToEnd, TheLargestCaptureOnA4kScreen) {
  const SIZE screen = ScreenSize();
  const int width = screen.cx, height = screen.cy;
  // Wider screens (three monitors' worth) give the figures of the largest desktops.
  if (width < 3840 || height < 2160) GTEST_SKIP() << "needs a 3840 x 2160 screen, which the test command gives it";
  ASSERT_TRUE(target.Start(0, 0, width, height));
  ASSERT_TRUE(StartTallSnap());
  MemoryWatch memory(tallsnap.pi.dwProcessId);
  const std::string name = "tallsnap-4k-" + std::to_string(GetCurrentProcessId()) + "-top";
  onDesktop = {name + ".bmp", name + ".png", name + ".jpg"};
  ASSERT_TRUE(NameForTheDesktop(name));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kAllThree));
  ASSERT_TRUE(DragRange(0, 0, width - 1, height - 1, RGB(0, 255, 255)));
  shots.Shot("whole-screen");
  RECT own{};
  GetWindowRect(main, &own);
  ASSERT_TRUE(Finish());
  memory.Stop();
  std::printf("memory %s on %d x %d: peak private bytes %.1f MB, peak addresses in use %.1f MB; largest free range "
              "of addresses %.1f MB before the capture, %.1f MB at its smallest (%d samples)\n",
              shots.name.c_str(), width, height, memory.peakPrivate / 1048576.0, memory.peakInUse / 1048576.0,
              memory.firstLargestFree / 1048576.0, memory.leastLargestFree / 1048576.0, memory.samples);
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
    // The image is the first grab alone, its last row included.
    ExpectFaithful(Desktop() + "\\" + file, screen, RangeWidth(), RangeHeight());
  }
}

// The range window over a screen far wider and taller than 2000 pixels: while the user drags,
// the screen is the frozen picture everywhere but for the frame's dashes, which lie exactly
// round the rectangle dragged so far; dragged back, no dash is left behind; the range in the far
// corner is captured pixel for pixel. The test command runs it on 3840 x 2160 and 2560 x 1440
// screens, and it prints what a mouse move of the drag costs there.
TEST_F(EndToEnd, TheRangeWindowShowsTheWholeScreen) {
  const SIZE screen = ScreenSize();
  const int width = screen.cx, height = screen.cy;
  if (width < 2560) GTEST_SKIP() << "needs a screen 2560 pixels wide or more, which the test command gives it";
  // The target in the far corner, the desktop round it.
  ASSERT_TRUE(target.Start(width - 1000, height - 800, 940, 750));
  ASSERT_TRUE(StartTallSnap());
  const std::string name = "tallsnap-far-" + std::to_string(GetCurrentProcessId());
  onDesktop = {name + ".bmp"};
  ASSERT_TRUE(NameForTheDesktop(name));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  RECT own{};
  GetWindowRect(main, &own);
  const std::vector<uint32_t> stood = ScreenPixels(0, 0, width, height);
  ASSERT_EQ(stood.size(), static_cast<size_t>(width) * height);
  Press(kIdRangeButton);
  HWND rangeWindow = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] { return (rangeWindow = FindProcessWindow(tallsnap.pi.dwProcessId, "NORMAL1", true)) != nullptr; }, 5000));
  // The screen TallSnap froze is the screen as it stood before, but where its own window lies;
  // with a frame, its dashes painted over it in their order.
  const auto expected = [&](const RECT* frame) {
    std::vector<uint32_t> screen = stood;
    if (frame != nullptr)
      for (const FrameBlock& b : DashedFrameBlocks(frame->left, frame->top, frame->right, frame->bottom, 2))
        for (int y = std::max(0, b.y); y < std::min(height, b.y + b.h); ++y)
          for (int x = std::max(0, b.x); x < std::min(width, b.x + b.w); ++x)
            screen[static_cast<size_t>(y) * width + x] = b.black ? 0u : 0x00FFFFFFu;
    return screen;
  };
  // Pixels unlike the expected screen, TallSnap's own window left out; the first of them in `at`.
  const auto unlike = [&](const std::vector<uint32_t>& want, POINT& at) {
    const std::vector<uint32_t> shown = ScreenPixels(0, 0, width, height);
    int count = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const size_t i = static_cast<size_t>(y) * width + x;
        if (x >= own.left && x < own.right && y >= own.top && y < own.bottom) continue;
        if (shown.size() == want.size() && shown[i] == want[i]) continue;
        if (count++ == 0) at = POINT{x, y};
      }
    return count;
  };
  const auto shows = [&](const RECT* frame, const char* what) {
    const std::vector<uint32_t> want = expected(frame);
    POINT at{};
    int count = -1;
    if (PumpUntil([&] { return (count = unlike(want, at)) == 0; }, 10000)) return true;
    shots.Shot(what);
    ADD_FAILURE() << what << ": " << count << " pixels unlike the frozen screen, the first at " << at.x << "," << at.y;
    return false;
  };
  ASSERT_TRUE(shows(nullptr, "frozen"));
  // The range narrower than tall, so that its preview stays clear of the buttons beside it.
  const POINT start{width - 900, height - 700}, corner{width - 60, height - 50}, back{width - 500, height - 200};
  const RECT farFrame{start.x, start.y, corner.x, corner.y}, backFrame{start.x, start.y, back.x, back.y};
  Xdotool("mousemove " + std::to_string(start.x) + " " + std::to_string(start.y) + " sleep 0.1 mousedown 1 sleep 0.05 " +
          "mousemove " + std::to_string(corner.x) + " " + std::to_string(corner.y));
  ASSERT_TRUE(shows(&farFrame, "dragged-to-the-far-corner"));
  shots.Shot("dragged-to-the-far-corner");
  Xdotool("mousemove " + std::to_string(back.x) + " " + std::to_string(back.y));
  ASSERT_TRUE(shows(&backFrame, "dragged-back"));

  // What one mouse move of the drag costs TallSnap: the move and the painting it asks for,
  // each sent to the range window and waited for.
  std::vector<double> ms;
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  for (int k = 0; k < 40; ++k) {
    const int x = back.x + (k % 2 == 0 ? 40 : -40) + k, y = back.y + (k % 2 == 0 ? 30 : -30) + k;
    QueryPerformanceCounter(&before);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(rangeWindow, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 5000, &result);
    RedrawWindow(rangeWindow, nullptr, nullptr, RDW_UPDATENOW);
    QueryPerformanceCounter(&after);
    ms.push_back(1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) / static_cast<double>(frequency.QuadPart));
  }
  std::sort(ms.begin(), ms.end());
  std::printf("drag %s on %d x %d: a mouse move costs %.2f ms (median), %.2f ms at most, of %zu\n", shots.name.c_str(),
              width, height, ms[ms.size() / 2], ms.back(), ms.size());
  // The real mouse ends the drag where the last frame was shown.
  Xdotool("mousemove " + std::to_string(back.x - 1) + " " + std::to_string(back.y - 1) + " sleep 0.05 mousemove " +
          std::to_string(back.x) + " " + std::to_string(back.y) + " sleep 0.05 mouseup 1");
  range_ = backFrame;
  // The band turns red once the first grab is taken.
  ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(rangeWindow) && Band() == RGB(255, 0, 0); }, 10000));
  const int begun = target.Offset();
  ASSERT_TRUE(ScrollAndFollow(3, begun));
  const int rows = RowsFollowed(begun);
  ASSERT_TRUE(Finish());
  ExpectFaithful(Desktop() + "\\" + name + ".bmp", TargetRows(begun), RangeWidth(), rows);
}

// This test again, run inside a Wine virtual desktop of the given size, whose display the run
// inside may change; its output is shown here and its verdict is this test's.
static void RunInsideVirtualDesktop(const std::string& folder, const char* size) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  // The run inside writes to a file: Wine may take it for ended while its Linux side is still
  // running, and the file is what tells its verdict.
  const std::string log = folder + "\\inside.log";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              &inherit, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  SetEnvironmentVariableA("TALLSNAP_IN_DESKTOP", "1");
  ChildProcess desktop;
  const bool started = desktop.Start("explorer.exe /desktop=tallsnap" + std::to_string(GetCurrentProcessId()) + "," +
                                         size + " \"" + self + "\" --gtest_filter=EndToEnd." + test,
                                     folder, output);
  SetEnvironmentVariableA("TALLSNAP_IN_DESKTOP", nullptr);
  CloseHandle(output);
  ASSERT_TRUE(started);
  // The run's summary comes after its own tear-down.
  const auto summed = [&] {
    const std::string said = ReadFileBytes(log);
    return said.find("[  PASSED  ]") != std::string::npos || said.find("[  FAILED  ]") != std::string::npos;
  };
  EXPECT_TRUE(PumpUntil(summed, 180000));
  const std::string said = ReadFileBytes(log);
  std::printf("--- the run inside the desktop ---\n%s--- end of the run inside ---\n", said.c_str());
  EXPECT_TRUE(said.find("[  PASSED  ] 1 test.") != std::string::npos) << "the run inside the desktop failed";
}

// A display that grows while TallSnap runs (a monitor plugged in, a higher resolution): in a
// Wine virtual desktop of 1024 x 768, which grows to 1280 x 1024 between two ranges, the second
// range window covers the desktop as it is now and a range in the new area is captured pixel for
// pixel. Plain Xvfb refuses new modes; the test runs itself again inside such a desktop.
TEST_F(EndToEnd, ADisplayThatGrowsBetweenTwoRanges) {
  if (GetEnvironmentVariableA("TALLSNAP_IN_DESKTOP", nullptr, 0) == 0) {
    RunInsideVirtualDesktop(folder, "1024x768");
    return;
  }
  const auto desktopIs = [](int w, int h) {
    return GetSystemMetrics(SM_CXVIRTUALSCREEN) == w && GetSystemMetrics(SM_CYVIRTUALSCREEN) == h;
  };
  ASSERT_TRUE(desktopIs(1024, 768));
  ASSERT_TRUE(StartTallSnap());
  const std::string name = "tallsnap-grown-" + std::to_string(GetCurrentProcessId());
  onDesktop = {name + ".bmp"};
  ASSERT_TRUE(NameForTheDesktop(name));
  // The range window over the desktop as it was, given up with a close.
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  Press(kIdRangeButton);
  HWND rangeWindow = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] { return (rangeWindow = FindProcessWindow(tallsnap.pi.dwProcessId, "NORMAL1", true)) != nullptr; }, 5000));
  const auto covers = [&](int w, int h) {
    RECT client{};
    GetClientRect(rangeWindow, &client);
    POINT corner{0, 0};
    ClientToScreen(rangeWindow, &corner);
    return ::testing::AssertionResult(corner.x == 0 && corner.y == 0 && client.right >= w && client.bottom >= h)
           << "the range window's client area is " << client.right << " x " << client.bottom << " at " << corner.x
           << "," << corner.y;
  };
  EXPECT_TRUE(covers(1024, 768));
  PostMessageA(rangeWindow, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(rangeWindow); }, 5000));

  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = 1280;
  mode.dmPelsHeight = 1024;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  ASSERT_EQ(ChangeDisplaySettingsExA(nullptr, &mode, nullptr, 0, nullptr), DISP_CHANGE_SUCCESSFUL);
  ASSERT_TRUE(PumpUntil([&] { return desktopIs(1280, 1024); }, 10000));
  ASSERT_TRUE(target.Start(100, 150, 1150, 860));
  // In the area the desktop gained, right of and below the old one.
  const int begun = target.Offset();
  ASSERT_TRUE(DragRange(1040, 780, 1220, 990));
  EXPECT_TRUE(covers(1280, 1024));
  ASSERT_TRUE(ScrollAndFollow(3, begun));
  const int rows = RowsFollowed(begun);
  ASSERT_TRUE(Finish());
  ExpectFaithful(Desktop() + "\\" + name + ".bmp", TargetRows(begun), RangeWidth(), rows);
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
TEST_F(EndToEnd, AFooterThatStandsStillAppearsOnceAtTheEnd) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH, kPixelsPerNotch, "footer"));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox) && PickFormat(kBmp));
  const int start = target.Offset();
  // The range down to the window's bottom edge, the status bar inside it.
  ASSERT_TRUE(DragRange(kRangeX0, kRangeY0, kRangeX1, kTargetY + kTargetH));
  // The content scrolled from start, then the bar where the range's last rows show it.
  const auto rows = [&] {
    const int moved = target.Offset() - start, dx = range_.left - target.x, dy = start + range_.top - target.y;
    const int barFrom = moved + RangeHeight() - kFooterRows;
    return ImageRows([=](int x, int y) { return y < barFrom ? ContentPixel(dx + x, dy + y) : FooterPixel(dx + x, y - barFrom); });
  };
  for (int burst = 0; burst < 12; ++burst) {
    const int notches = (burst % 6 == 5 ? -1 : 1) * (3 + burst % 3);
    ASSERT_TRUE(target.Burst(notches, 50 + (burst * 13) % 31)) << burst;
    EXPECT_TRUE(PreviewShows(rows(), RowsFollowed(start))) << burst;
  }
  shots.Shot("scrolled");
  const int height = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\footer.bmp"));
  ExpectFaithful(folder + "\\footer.bmp", rows(), RangeWidth(), height);
}

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
    EXPECT_TRUE(PreviewShows(TargetRows(start), RowsFollowed(start))) << burst;
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
  // Too far at once: nothing of the image is in view, it waits, and the band and the
  // instruction say so.
  const auto told = [&](COLORREF band, const char* note) {
    char shown[512] = {};
    return PumpUntil(
        [&] { return Band() == band && GetDlgItemTextA(main, kIdCaptureNote, shown, sizeof shown) > 0 &&
                     std::string(shown) == note; },
        5000);
  };
  ASSERT_TRUE(told(RGB(255, 0, 0), kCaptureNoteText));
  ASSERT_TRUE(target.Flick());
  EXPECT_TRUE(told(RGB(255, 255, 0), kLostNoteText));
  shots.Shot("flicked");
  EXPECT_TRUE(PreviewShows(TargetRows(start), before, 2000));
  // Back up until the image's end is in view again: it continues from there, and says so.
  const int overlapAt = start + before - RangeHeight() + 3 + 60;  // 60 rows of the image in view
  ASSERT_TRUE(ScrollAndFollow(-((target.Offset() - overlapAt) / kPixelsPerNotch), start));
  EXPECT_TRUE(told(RGB(255, 0, 0), kCaptureNoteText));
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
  // The save dialog cancelled, as to change the format: the image stays, and the cancel
  // forgets nothing.
  const auto remembered = [&] {
    std::ifstream in(folder + "\\TallSnap個人設定\\FileHozonPath.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string folderBefore = remembered();
  EXPECT_NE(folderBefore.find(saved), std::string::npos) << folderBefore;
  ASSERT_TRUE(FinishAndCancelTheDialog());
  EXPECT_EQ(remembered(), folderBefore);
  // "キャンセル" would throw the kept image away: it asks as closing does, and "いいえ" keeps it.
  Press(kIdCancelButton);
  std::string said;
  const HWND asked = MessageShown(said);
  ASSERT_NE(asked, nullptr);
  EXPECT_NE(said.find("保存しないで終わりますか"), std::string::npos) << said;
  shots.Shot("cancel-asks");
  const POINT no = CentreOf(GetDlgItem(asked, IDNO));
  ClickAt(no.x, no.y);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(asked); }, 5000));
  EXPECT_TRUE(Shows(kIdFinishButton) && Shows(kIdFormatBox) && !Shows(kIdReadyButton));
  ASSERT_TRUE(PickFormat(kPng));
  // A bare name: the dialog opens in the folder chosen last time.
  ASSERT_TRUE(FinishThroughDialog("second.png"));
  ExpectFaithful(saved + "\\second.png", TargetRows(start), RangeWidth(), rows);
  RemoveFolderTree(saved);
}

namespace {

using ScreenRows = std::vector<std::vector<uint32_t>>;

// The range's pixels as they stand on the screen, in rows.
ScreenRows RangeRows(const RECT& range) {
  const int w = range.right - range.left, h = range.bottom - range.top;
  const std::vector<uint32_t> pixels = ScreenPixels(range.left, range.top, w, h);
  ScreenRows rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y)
    rows[y].assign(pixels.begin() + static_cast<ptrdiff_t>(y) * w, pixels.begin() + static_cast<ptrdiff_t>(y + 1) * w);
  return rows;
}

// Rows of b are rows of a moved up by shift. The last rows are left out: a text view may leave a
// line that does not fit whole, or the strip under it, as it was.
bool MovedUpBy(const ScreenRows& a, const ScreenRows& b, int shift) {
  constexpr size_t kPartLine = 24;
  for (size_t y = 0; y + static_cast<size_t>(shift) + kPartLine < a.size(); ++y)
    if (b[y] != a[y + static_cast<size_t>(shift)]) return false;
  return true;
}

// The ground truth of a capture of a program nobody here wrote: screenshots of the range taken
// one step (a wheel notch, a key) apart before the capture, each the one before moved up by the
// same number of rows, read off the screen.
struct StepShots {
  RECT range{};
  std::vector<ScreenRows> shots;
  int shift = 0;

  // step() moves the view one step down; each is waited for until the screen shows it moved by
  // the same rows as the first (known beforehand when a step may show in parts). A screenshot
  // caught before its new rows were painted fails the next step's comparison, so the caller takes
  // one step more than it uses.
  bool Take(const RECT& r, int steps, const std::function<void()>& step, int knownShift = 0) {
    range = r;
    shift = knownShift;
    shots = {RangeRows(range)};
    for (int k = 1; k <= steps; ++k) {
      step();
      const bool moved = PumpUntil(
          [&] {
            const ScreenRows now = RangeRows(range);
            if (shift == 0)
              for (int s = 1; s < static_cast<int>(now.size()) / 2 && shift == 0; ++s)
                if (MovedUpBy(shots[0], now, s)) shift = s;
            if (shift == 0 || !MovedUpBy(shots.back(), now, shift)) return false;
            shots.push_back(now);
            return true;
          },
          10000);
      if (!moved) {
        ADD_FAILURE() << "step " << k << " did not move the view by whole rows";
        return false;
      }
    }
    std::printf("a step moves %d pixel rows\n", shift);
    return true;
  }
  // The screen shows the view of step k (after the user's own scrolling).
  bool Shows(int k) const { return PumpUntil([&] { return RangeRows(range) == shots[static_cast<size_t>(k)]; }, 10000); }
  // The tall image of a capture that started at step 0 and stands at step `to`: row y from the
  // last screenshot that has it.
  ImageRows Image(int to) const {
    return [this, to](int x, int y) {
      const int k = std::min(to, y / shift);
      return shots[static_cast<size_t>(k)][static_cast<size_t>(y - k * shift)][static_cast<size_t>(x)];
    };
  }
  int Rows(int to) const { return to * shift + static_cast<int>(shots[0].size()) - 3; }
  // The same with a band that stands still right under the range the steps were taken in (or
  // right above it): the capture's range reaches over it, and the band ends (or starts) the tall
  // image, once.
  ImageRows WithBand(int to, const ScreenRows& band, bool above = false) const {
    const int bandRows = static_cast<int>(band.size());
    const int bandFrom = above ? 0 : to * shift + static_cast<int>(shots[0].size());
    const int imageFrom = above ? bandRows : 0;
    return [this, to, bandFrom, bandRows, imageFrom, &band](int x, int y) {
      if (y >= bandFrom && y < bandFrom + bandRows)
        return band[static_cast<size_t>(y - bandFrom)][static_cast<size_t>(x)];
      return Image(to)(x, y - imageFrom);
    };
  }
  int RowsWithBand(int to, const ScreenRows& band) const { return Rows(to) + static_cast<int>(band.size()); }
};

// Lines of prose: words drawn afresh for each line, every line different.
std::string ProseText(int lines, uint32_t seed) {
  static const char* const kWords[] = {"tall", "snap", "window", "scroll", "the", "a", "of", "image", "row",
                                       "stitch", "grab", "quick", "brown", "fox", "jumps", "over", "lazy", "dog",
                                       "Kelvo", "Tarvin", "wheel", "notch", "page", "line", "text", "view", "i", "l"};
  std::string text;
  for (int i = 0; i < lines; ++i) {
    std::string line = std::to_string(i) + ":";
    while (line.size() < static_cast<size_t>(40 + i % 31)) {
      seed = seed * 1103515245u + 12345u;
      line += std::string(" ") + kWords[(seed >> 16) % (sizeof kWords / sizeof kWords[0])];
    }
    text += line + "\n";
  }
  return text;
}

// An xterm on the test's display (a native X program), started from a shell script and ended by
// its pid. Its text area lies `border` pixels into the window, which xterm keeps blank: under the
// last line that is the blank strip a text view leaves at every scroll position.
struct Xterm {
  std::string dir;  // a Linux folder for its files
  std::string pid;
  std::string title;
  int x = 0, y = 0, width = 0, height = 0;
  int cellW = 0, cellH = 0, border = 0;

  // font "WxH" (a fixed X font), cols x rows cells at (left, top), blank borders of `blank`
  // pixels; command runs inside.
  bool Start(const std::string& font, int cols, int rows, int left, int top, int blank, const std::string& command) {
    dir = "/tmp/tallsnap-xterm-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    CreateDirectoryA(WindowsPathOf(dir).c_str(), nullptr);
    std::sscanf(font.c_str(), "%dx%d", &cellW, &cellH);
    border = blank;
    x = left, y = top, width = cols * cellW + 2 * border, height = rows * cellH + 2 * border;
    title = "tallsnap-xterm-" + std::to_string(GetTickCount());
    WriteFileBytes(WindowsPathOf(dir + "/inside.sh"), "DIR=" + dir + "\n" + command + "\nexec sleep 100000\n");
    WriteFileBytes(WindowsPathOf(dir + "/start.sh"),
                   "/usr/bin/xterm -T " + title + " -geometry " + std::to_string(cols) + "x" + std::to_string(rows) +
                       "+" + std::to_string(x) + "+" + std::to_string(y) + " -fn " + font +
                       " -bw 0 -b " + std::to_string(border) + " -bg white -fg black +sb -sl 5000 -xrm '*allowSendEvents: true' -e /bin/sh " + dir +
                       "/inside.sh >/dev/null 2>&1 &\necho $! > " + dir + "/pid\n");
    if (RunUnix("/bin/sh " + dir + "/start.sh", 10000) != 0) return false;
    pid = ReadFileBytes(WindowsPathOf(dir + "/pid"));
    pid.erase(pid.find_last_not_of("\r\n") + 1);
    return RunUnix("/usr/bin/xdotool search --sync --name ^" + title + "$", 20000) == 0;
  }
  // lines of prose catted into its scroll-back, the cursor hidden.
  bool ShowProse(const std::string& font, int cols, int rows, int left, int top, int blank, int lines, uint32_t seed) {
    const std::string text = "/tmp/tallsnap-prose-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(seed);
    WriteFileBytes(WindowsPathOf(text), ProseText(lines, seed));
    return Start(font, cols, rows, left, top, blank, "cat " + text + "; rm " + text + "; printf '\\033[?25l'");
  }
  ~Xterm() {
    if (!pid.empty()) RunUnix("/bin/kill " + pid, 10000);
    if (!dir.empty()) RunUnix("/bin/rm -rf " + dir, 10000);
  }
  // The whole text area with the blank strip under its last line.
  RECT TextAndStrip() const { return RECT{x + border, y + border, x + width - border, y + height}; }
  std::string Pointer() const {
    return "mousemove " + std::to_string(x + width / 2) + " " + std::to_string(y + height / 2);
  }
  // Keys sent to it, wherever the keyboard focus lies (it accepts sent events).
  void Keys(const std::string& keys) const {
    Xdotool("search --name ^" + title + "$ key --window %1 --delay 40 " + keys);
  }
  // Wheel notches down (positive) or up, a burst delayMs apart.
  void Wheel(int notches, int delayMs = 0) const {
    Xdotool(Pointer() + " click --repeat " + std::to_string(std::abs(notches)) + " --delay " + std::to_string(delayMs) +
            (notches > 0 ? " 5" : " 4"));
  }
  // Up from the bottom of its scroll-back a notch at a time, each waited for, to a place with
  // enough text below for the whole capture.
  bool WheelUp(const RECT& range, int notches) const {
    for (int k = 0; k < notches; ++k) {
      const ScreenRows before = RangeRows(range);
      Wheel(-1);
      if (!PumpUntil([&] { return RangeRows(range) != before; }, 10000)) return false;
    }
    return true;
  }
};

// A Linux file of the test's, removed however the test ends.
struct TempFile {
  std::string path;
  ~TempFile() { DeleteFileA(WindowsPathOf(path).c_str()); }
};

// Debian's chromium in app mode showing a page of the test's: no frame, so the window is the
// page's viewport, exactly at the place and size asked for, on screen `screen` of the test's
// display (1 is the tall second screen). Started from a shell script and ended by its pid. Its
// smooth scrolling stays on, as it ships; the rest keeps it quiet and its pixels alike in every
// window: no infobar, no LCD text (which a layer of its own, such as a sticky bar's, would draw
// otherwise than the page under it), one colour profile.
struct Chromium {
  std::string dir;     // a Linux folder for its profile and files
  std::string pid;
  std::string window;  // its X window
  int x = 0, y = 0, width = 0, height = 0;

  bool Start(const std::string& url, int screen, int left, int top, int w, int h, bool scrollBar = false) {
    x = left, y = top, width = w, height = h;
    dir = "/tmp/tallsnap-chromium-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    CreateDirectoryA(WindowsPathOf(dir).c_str(), nullptr);
    const std::string display = "export DISPLAY=\"${DISPLAY%%.*}." + std::to_string(screen) + "\"\n";
    WriteFileBytes(WindowsPathOf(dir + "/start.sh"),
                   display + "/usr/bin/chromium --no-sandbox --test-type --app='" + url + "' --window-position=" +
                       std::to_string(x) + "," + std::to_string(y) + " --window-size=" + std::to_string(w) + "," +
                       std::to_string(h) + " --user-data-dir=" + dir +
                       "/profile --no-first-run --no-default-browser-check --disable-gpu "
                       "--force-device-scale-factor=1 " + (scrollBar ? "" : "--hide-scrollbars ") +
                       "--disable-lcd-text --force-color-profile=srgb "
                       "--disable-background-networking --disable-component-update --disable-sync --disable-quic "
                       "--disable-default-apps --disable-extensions --disable-breakpad --no-pings --mute-audio "
                       "--password-store=basic --disable-features=Translate,MediaRouter,OptimizationHints "
                       "--disable-backgrounding-occluded-windows --disable-renderer-backgrounding "
                       "--disable-background-timer-throttling >" + dir + "/log 2>&1 &\n"
                       "echo $! > " + dir + "/pid\n"
                       // A search can fail outright while chromium makes and drops windows of its own.
                       "i=0; while [ $i -lt 300 ]; do\n"
                       "  w=$(/usr/bin/xdotool search --screen " + std::to_string(screen) +
                       " --name '^tallsnap ' 2>/dev/null | head -n 1)\n"
                       "  [ -n \"$w\" ] && echo $w > " + dir + "/window && break\n"
                       "  sleep 0.1; i=$((i + 1))\n"
                       "done\n");
    WriteFileBytes(WindowsPathOf(dir + "/title.sh"), "/usr/bin/xdotool getwindowname $(cat " + dir + "/window) > " +
                                                         dir + "/title.part && mv " + dir + "/title.part " + dir + "/title\n");
    WriteFileBytes(WindowsPathOf(dir + "/shot.sh"), display + "/usr/bin/import -window root -crop \"$1\" +repage \"$2\"\n");
    const int started = RunUnix("/bin/sh " + dir + "/start.sh", 40000);
    pid = Line(dir + "/pid");
    window = Line(dir + "/window");
    return started == 0 && !window.empty();
  }
  ~Chromium() {
    if (dir.empty()) return;
    WriteFileBytes(WindowsPathOf(dir + "/stop.sh"), "kill " + pid + "; i=0\nwhile kill -0 " + pid +
                                                        " 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done\n"
                                                        "rm -rf " + dir + "\n");
    RunUnix("/bin/sh " + dir + "/stop.sh", 20000);
  }
  static std::string Line(const std::string& file) {
    std::string text = ReadFileBytes(WindowsPathOf(file));
    if (text == "<missing>") return std::string();
    text.erase(text.find_last_not_of("\r\n") + 1);
    return text;
  }
  std::string Title() const {
    DeleteFileA(WindowsPathOf(dir + "/title").c_str());
    RunUnix("/bin/sh " + dir + "/title.sh", 10000);
    return Line(dir + "/title");
  }
  // Where the page stands, as it tells in its title; -1 before it tells.
  int ScrollY() const {
    int at = -1;
    std::sscanf(Title().c_str(), "tallsnap %d", &at);
    return at;
  }
  std::string Pointer() const {
    return "mousemove " + std::to_string(x + width / 2) + " " + std::to_string(y + height / 2);
  }
  // This rectangle of its screen, in its screen's coordinates.
  bool Screenshot(const RECT& r, Picture& picture) const {
    const std::string file = dir + "/shot.png";
    DeleteFileA(WindowsPathOf(file).c_str());
    const std::string crop = std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                             std::to_string(r.left) + "+" + std::to_string(r.top);
    return RunUnix("/bin/sh " + dir + "/shot.sh " + crop + " " + file, 30000) == 0 &&
           DecodeImageFile(WindowsPathOf(file), picture);
  }
};

// A web page of the test's: what it shows, then its script. Scrolled, it tells where it stands in
// its title; shown whole (#truth), it tells its height, the height of its sticky bar (#sticky) and
// the rectangle of its animated box (#box), 0 where it has none.
std::string WebPage(const std::string& style, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>tallsnap 0</title><style>"
         "html, body { margin: 0; background: #fff; color: #222; font: 15px/24px sans-serif; }" +
         style + "</style></head><body>" + body +
         "<script>\n"
         "addEventListener('scroll', () => { document.title = 'tallsnap ' + scrollY; });\n"
         "addEventListener('load', () => {\n"
         "  if (location.hash != '#truth') return;\n"
         "  const none = {left: 0, top: 0, right: 0, bottom: 0, height: 0};\n"
         "  const at = id => document.getElementById(id) ? document.getElementById(id).getBoundingClientRect() : none;\n"
         "  const box = at('box');\n"
         "  document.title = ['tallsnap truth', Math.ceil(document.documentElement.getBoundingClientRect().height),\n"
         "    Math.ceil(at('sticky').height), Math.floor(box.left), Math.floor(box.top), Math.ceil(box.right),\n"
         "    Math.ceil(box.bottom)].join(' ');\n"
         "});\n"
         "</script></body></html>";
}

}  // namespace

// The page shown twice: scrolled in a window of the usual screen, which TallSnap captures, and
// whole in a window as tall as the page on the second screen, whose screenshot is the picture the
// capture must equal (chromium's, not TallSnap's, idea of the page). The range lies over the
// view's whole height, sticky bar included, from its top, so that image row y is page row y;
// the wheel goes down in bursts of 3 to 5 notches 50 to 100 ms apart until the page's end.
void EndToEnd::CaptureWebPage(const std::string& html, bool scrollBar) {
  constexpr int kViewX = 640, kViewY = 120, kViewW = 600, kViewH = 640, kTruthH = 4000, kPerNotch = 120;
  // Chromium's scroll bar, at the view's right edge: the page shown whole is as wide as the
  // view's content beside it, so that both lay the page out alike.
  const int barW = scrollBar ? 15 : 0;
  const std::string page = "/tmp/tallsnap-page-" + std::to_string(GetCurrentProcessId()) + "-" + shots.name + ".html";
  WriteFileBytes(WindowsPathOf(page), html);
  const TempFile removed{page};
  Chromium whole, view;
  ASSERT_TRUE(whole.Start("file://" + page + "#truth", 1, 0, 0, kViewW - barW, kTruthH));
  int pageH = 0, stickyH = 0;
  RECT box{};
  ASSERT_TRUE(PumpUntil([&] {
    return std::sscanf(whole.Title().c_str(), "tallsnap truth %d %d %ld %ld %ld %ld", &pageH, &stickyH, &box.left,
                       &box.top, &box.right, &box.bottom) == 6;
  }, 20000)) << whole.Title();
  // The capture stops once the image holds its row limit less a range: the page ends before.
  ASSERT_LE(pageH, kTruthH - kViewH);
  ASSERT_TRUE(view.Start("file://" + page, 0, kViewX, kViewY, kViewW, kViewH, scrollBar));
  // People drag over the whole window when it shows its scroll bar.
  const RECT range = scrollBar ? RECT{kViewX, kViewY, kViewX + kViewW, kViewY + kViewH}
                               : RECT{kViewX + 8, kViewY, kViewX + kViewW - 8, kViewY + kViewH};
  // Pixels judged by nobody: the animated box and the scroll bar show whatever they show.
  const auto unjudged = [&](int x, int y) {
    return (x >= box.left && x < box.right && y >= box.top && y < box.bottom) || x >= kViewW - barW;
  };
  // Rows of the range on the screen unlike the page shown whole, when the view stands at scrollY
  // (the sticky bar over the top); the animated box is left out.
  Picture truth;
  const auto truthPixel = [&](int x, int y) -> uint32_t {
    if (x < 0 || y < 0 || x >= static_cast<int>(truth.width) || y >= static_cast<int>(truth.height)) return 0xFF000000u;
    const BYTE* p = &truth.bgr[(static_cast<size_t>(y) * truth.width + x) * 3];
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
  };
  const auto rowsUnlikeTruth = [&](int scrollY) {
    const ScreenRows shown = RangeRows(range);
    int unlike = 0;
    for (int v = 0; v < static_cast<int>(shown.size()); ++v) {
      const int y = range.top - kViewY + v, pageY = y < stickyH ? y : y + scrollY;
      for (int u = 0; u < static_cast<int>(shown[v].size()); ++u) {
        const int pageX = range.left - kViewX + u;
        if (!unjudged(pageX, pageY) && shown[v][u] != truthPixel(pageX, pageY)) {
          ++unlike;
          break;
        }
      }
    }
    return unlike;
  };
  // Trusted only once both windows draw the page alike: each is shot again until they do, which
  // also waits for them to be painted.
  int unlike = -1;
  PumpUntil([&] { return whole.Screenshot(RECT{0, 0, kViewW, pageH}, truth) && (unlike = rowsUnlikeTruth(0)) == 0; },
            20000);
  std::printf("page %s: %d rows, a sticky bar of %d, the box at %ld,%ld-%ld,%ld; %d rows of the view unlike it\n",
              shots.name.c_str(), pageH, stickyH, box.left, box.top, box.right, box.bottom, unlike);
  // Kept beside the screenshots of each step, to hold the image against.
  char artefacts[MAX_PATH] = {};
  if (GetEnvironmentVariableA("TALLSNAP_ARTEFACTS", artefacts, sizeof artefacts) != 0)
    CopyFileA(WindowsPathOf(whole.dir + "/shot.png").c_str(),
              WindowsPathOf(std::string(artefacts) + "/" + shots.name + "-whole-page.png").c_str(), FALSE);
  if (unlike != 0) shots.Shot("view-unlike-the-whole-page");
  ASSERT_EQ(unlike, 0) << "chromium draws the page otherwise in a window as tall as the page";

  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  ASSERT_TRUE(DragRange(range.left, range.top, range.right, range.bottom));
  shots.Shot("capturing");
  // Bursts until the page no longer moves; each waited for through the title.
  const int end = pageH - kViewH;
  int at = 0;
  for (int burst = 0; burst < 50; ++burst) {
    const int notches = 3 + burst % 3, delay = 50 + (burst * 23) % 51;
    Xdotool(view.Pointer() + " click --repeat " + std::to_string(notches) + " --delay " + std::to_string(delay) + " 5");
    const int want = std::min(at + notches * kPerNotch, end);
    ASSERT_TRUE(PumpUntil([&] { return view.ScrollY() == want; }, 10000))
        << "the page stands at " << view.ScrollY() << ", not " << want;
    if (want == at) break;
    at = want;
    if (burst == 1) shots.Shot("scrolled");
  }
  ASSERT_EQ(at, end);
  shots.Shot("at-the-end");
  // The view at the page's end is the whole page's end under the same sticky bar.
  ASSERT_EQ(rowsUnlikeTruth(end), 0);

  const int dx = range.left - kViewX, dy = range.top - kViewY;
  const ImageRows page0 = [&](int x, int y) { return truthPixel(dx + x, dy + y); };
  const int rows = end + RangeHeight() - 3;
  if (!scrollBar) {
    EXPECT_TRUE(PreviewShows(page0, rows));
  }
  const std::string file = folder + "\\" + shots.name + ".bmp";
  ASSERT_TRUE(FinishThroughDialog(file));
  // The box's pixels are whatever the image holds there.
  Picture written;
  ASSERT_TRUE(DecodeImageFile(file, written));
  const auto writtenPixel = [&](int x, int y) {
    const BYTE* p = &written.bgr[(static_cast<size_t>(y) * written.width + x) * 3];
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
  };
  const ImageRows expected = [&](int x, int y) {
    return unjudged(dx + x, dy + y) && y < static_cast<int>(written.height) ? writtenPixel(x, y) : page0(x, y);
  };
  // Its last rows are the page's last (but the three the finish leaves out), whatever its height.
  constexpr int kEndRows = 48;
  int endRows = 0;
  for (int k = 1; k <= kEndRows && k <= static_cast<int>(written.height); ++k) {
    bool same = true;
    for (int x = 0; x < RangeWidth() && same; ++x)
      same = unjudged(dx + x, pageH - 3 - k) ||
             writtenPixel(x, static_cast<int>(written.height) - k) == page0(x, pageH - dy - 3 - k);
    endRows += same;
  }
  std::printf("end %s: %d of the page's last %d rows end the image\n", shots.name.c_str(), endRows, kEndRows);
  EXPECT_EQ(endRows, kEndRows);
  ExpectFaithful(file, expected, RangeWidth(), rows);
}

// A long text in xterm's scroll-back (6x13 font), captured as a person does: the range over the
// whole text area with the blank strip under the last line, quick bursts of 3 to 5 wheel notches
// 50 to 80 ms apart, one burst back up in between. The image is checked against screenshots of
// the range taken a notch apart beforehand.
TEST_F(EndToEnd, XtermScrollBackInBursts) {
  Xterm xterm;
  ASSERT_TRUE(xterm.ShowProse("6x13", 80, 40, 650, 150, 9, 400, 7));
  const RECT area = xterm.TextAndStrip();
  StepShots truth;
  ASSERT_TRUE(CaptureOnScrollBack(xterm, area, 40, 18, kBmp, truth));
  int at = 0;
  for (const int burst : {3, 4, 5, -2, 3, 4}) {
    xterm.Wheel(burst, 50 + (at * 7) % 31);
    at += burst;
    ASSERT_TRUE(truth.Shows(at)) << at;
    EXPECT_TRUE(PreviewShows(truth.Image(at), truth.Rows(at))) << at;
    shots.Shot("notch-" + std::to_string(at));
  }
  ASSERT_TRUE(FinishThroughDialog(folder + "\\xterm.bmp"));
  ExpectFaithful(folder + "\\xterm.bmp", truth.Image(at), RangeWidth(), truth.Rows(at));
}

// Another font (9x15) and a narrower range of an odd width, its bottom edge through a line of
// text; a flick further than the range: the image follows the view as far as the ticks caught it
// on its way, never a row further, and goes on once the user scrolls back.
TEST_F(EndToEnd, XtermFlickPastTheRangeAndBack) {
  Xterm xterm;
  ASSERT_TRUE(xterm.ShowProse("9x15", 60, 30, 640, 120, 2, 300, 11));
  const RECT range{xterm.x + 2 + 17, xterm.y + 2 + 7, xterm.x + 2 + 17 + 311, xterm.y + 2 + 7 + 15 * 24 + 8};
  StepShots truth;
  ASSERT_TRUE(CaptureOnScrollBack(xterm, range, 30, 9, kBmp, truth));
  xterm.Wheel(2, 60);
  ASSERT_TRUE(truth.Shows(2));
  EXPECT_TRUE(PreviewShows(truth.Image(2), truth.Rows(2)));
  // Six notches at once: the view now starts below the image's end.
  ASSERT_GT(6 * truth.shift, RangeHeight());
  xterm.Wheel(6, 10);
  ASSERT_TRUE(truth.Shows(8));
  shots.Shot("flicked");
  PumpFor(500);  // several ticks, in which nothing may be appended that the view did not show
  bool caught = false;
  for (int k = 2; k <= 8 && !caught; ++k) caught = PreviewShows(truth.Image(k), truth.Rows(k), 100);
  EXPECT_TRUE(caught);
  xterm.Wheel(-4, 60);
  ASSERT_TRUE(truth.Shows(4));
  EXPECT_TRUE(PreviewShows(truth.Image(4), truth.Rows(4)));
  xterm.Wheel(3, 60);
  ASSERT_TRUE(truth.Shows(7));
  EXPECT_TRUE(PreviewShows(truth.Image(7), truth.Rows(7)));
  ASSERT_TRUE(FinishThroughDialog(folder + "\\flicked.bmp"));
  ExpectFaithful(folder + "\\flicked.bmp", truth.Image(7), RangeWidth(), truth.Rows(7));
}

// less in xterm, paged three lines a key press: its prompt line stays below the range.
TEST_F(EndToEnd, LessInXterm) {
  Xterm xterm;
  const std::string text = "/tmp/tallsnap-prose-" + std::to_string(GetCurrentProcessId()) + ".txt";
  WriteFileBytes(WindowsPathOf(text), ProseText(300, 23));
  // Its prompt line stands still under the page: a status line of fixed text.
  ASSERT_TRUE(xterm.Start("6x13", 80, 36, 650, 150, 2,
                          "LESSHISTFILE=- /usr/bin/less -S '-Ps-- a prompt that stands still under the page --' " + text));
  const RECT range{xterm.x + 2, xterm.y + 2, xterm.x + 2 + 401, xterm.y + 2 + 13 * 35};
  const RECT prompt{range.left, range.bottom, range.right, range.bottom + 13};
  // The first page is there once the prompt line shows under it.
  ASSERT_TRUE(PumpUntil([&] { return RangeRows(range)[0] != RangeRows(range)[12] && RangeRows(prompt)[5] != RangeRows(prompt)[0]; }, 10000));
  const ScreenRows band = RangeRows(prompt);
  const auto keys = [&](int steps) {
    std::string line;
    for (int i = 0; i < 3 * std::abs(steps); ++i) line += steps > 0 ? " j" : " k";
    xterm.Keys(line);
  };
  StepShots truth;
  ASSERT_TRUE(truth.Take(range, 11, [&] { keys(1); }, 3 * xterm.cellH));
  keys(-11);
  ASSERT_TRUE(truth.Shows(0));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  // The range takes in the prompt line.
  ASSERT_TRUE(DragRange(range.left, range.top, range.right, prompt.bottom));
  int at = 0;
  for (const int steps : {2, 3, -1, 4, 2}) {
    keys(steps);
    at += steps;
    ASSERT_TRUE(truth.Shows(at)) << at;
    ASSERT_TRUE(RangeRows(prompt) == band) << at;
    EXPECT_TRUE(PreviewShows(truth.WithBand(at, band), truth.RowsWithBand(at, band))) << at;
  }
  ASSERT_TRUE(FinishThroughDialog(folder + "\\less.bmp"));
  ExpectFaithful(folder + "\\less.bmp", truth.WithBand(at, band), RangeWidth(), truth.RowsWithBand(at, band));
  DeleteFileA(WindowsPathOf(text).c_str());
}

// Wine's Notepad showing a long log whose lines are alike but for a few digits, scrolled by the
// wheel a notch at a time, the range down over its status bar, which stands still under the
// text (with the blank strip under the last whole line).
TEST_F(EndToEnd, ALongTextInNotepad) {
  std::string text;
  for (int i = 0; i < 400; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "2026-12-07 10:%02d:%02d tick %04d: stitched the grab onto the tall image\r\n",
                  i / 60 % 60, i % 60, i * 7 % 10000);
    text += line;
  }
  WriteFileBytes(folder + "\\long.txt", text);
  HKEY settings = nullptr;
  const DWORD shown = 1;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Notepad", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &settings, nullptr), ERROR_SUCCESS);
  RegSetValueExA(settings, "bStatusBar", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&shown), sizeof shown);
  // Notepad opens where it was last closed: this test moved it there.
  for (const char* place : {"iWindowPosX", "iWindowPosY", "iWindowPosDX", "iWindowPosDY"})
    RegDeleteValueA(settings, place);
  RegCloseKey(settings);
  ChildProcess notepad;
  ASSERT_TRUE(notepad.Start("notepad.exe \"" + folder + "\\long.txt\"", folder));
  HWND window = nullptr, edit = nullptr, status = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        window = FindProcessWindow(notepad.pi.dwProcessId, "Notepad", true);
        edit = window != nullptr ? FindWindowExA(window, nullptr, "Edit", nullptr) : nullptr;
        status = window != nullptr ? FindWindowExA(window, nullptr, "msctls_statusbar32", nullptr) : nullptr;
        return edit != nullptr && IsWindowVisible(edit) && status != nullptr && IsWindowVisible(status);
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
  // bar; down to the end of the text area.
  const RECT area{view.left + 40, std::max<LONG>(view.top, main.bottom) + 20, view.left + 640, clientBottom.y - 1};
  ASSERT_GE(area.bottom - area.top, 300);
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
  auto wheel = [&](int notches) {
    const std::string button = notches > 0 ? "5" : "4";
    for (int left = std::abs(notches); left > 0; --left)
      Xdotool("mousemove " + std::to_string(area.left + 300) + " " + std::to_string(area.top + 100) + " click " +
              button + " sleep 0.4");
  };
  constexpr int kNotches = 12;
  ASSERT_TRUE(focusNotepad());
  StepShots truth;
  ASSERT_TRUE(truth.Take(area, kNotches + 1, [&] { wheel(1); }));
  wheel(-kNotches - 1);
  ASSERT_TRUE(PumpUntil([&] { return firstLine() == 0; }, 10000));
  ASSERT_TRUE(truth.Shows(0));

  // Under the text area: its last blank row, the edit's edge and the status bar, all still.
  RECT bar{};
  GetWindowRect(status, &bar);
  const RECT below{area.left, area.bottom, area.right, bar.bottom};
  const ScreenRows band = RangeRows(below);
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  ASSERT_TRUE(DragRange(area.left, area.top, area.right, below.bottom));
  ASSERT_TRUE(focusNotepad());
  wheel(kNotches);
  ASSERT_TRUE(truth.Shows(kNotches));
  ASSERT_TRUE(RangeRows(below) == band);
  EXPECT_TRUE(PreviewShows(truth.WithBand(kNotches, band), truth.RowsWithBand(kNotches, band)));
  shots.Shot("notepad-captured");
  ASSERT_TRUE(FinishThroughDialog(folder + "\\notepad.bmp"));
  ExpectFaithful(folder + "\\notepad.bmp", truth.WithBand(kNotches, band), RangeWidth(),
                 truth.RowsWithBand(kNotches, band));
}

// The run command's demonstration: a long text in xterm's scroll-back captured and saved as PNG
// through the save dialog; with TALLSNAP_DEMO_OUT set (a Linux folder) the tall image is copied
// there.
TEST_F(EndToEnd, Demonstration) {
  Xterm xterm;
  ASSERT_TRUE(xterm.ShowProse("7x14", 76, 40, 650, 120, 7, 300, 3));
  const RECT area = xterm.TextAndStrip();
  StepShots truth;
  ASSERT_TRUE(CaptureOnScrollBack(xterm, area, 45, 25, kPng, truth));
  shots.Shot("capturing");
  int at = 0;
  for (const int burst : {3, 3, 4, -2, 4, 4, 4, 4}) {
    xterm.Wheel(burst, 70);
    at += burst;
    ASSERT_TRUE(truth.Shows(at)) << at;
    EXPECT_TRUE(PreviewShows(truth.Image(at), truth.Rows(at))) << at;
    if (at == 10) shots.Shot("scrolled");
  }
  ASSERT_TRUE(FinishThroughDialog(folder + "\\demo.png"));
  shots.Shot("finished");
  ExpectFaithful(folder + "\\demo.png", truth.Image(at), RangeWidth(), truth.Rows(at));
  char out[MAX_PATH] = {};
  if (GetEnvironmentVariableA("TALLSNAP_DEMO_OUT", out, sizeof out) != 0) {
    const std::string copy = WindowsPathOf(std::string(out) + "/tall-image.png");
    EXPECT_TRUE(CopyFileA((folder + "\\demo.png").c_str(), copy.c_str(), FALSE));
  }
}

// A page with a bar that sticks to the top of the view and a box whose picture changes every
// frame, halfway down: the image holds the bar once, at its top, and the page under it whole.
TEST_F(EndToEnd, ChromiumStickyHeaderAndAnimatedBox) {
  std::string lines[2];
  const std::string prose = ProseText(120, 31);
  for (size_t from = 0, k = 0; from < prose.size(); ++k) {
    const size_t to = prose.find('\n', from);
    lines[k < 60 ? 0 : 1] += "<p>" + prose.substr(from, to - from) + "</p>";
    from = to + 1;
  }
  CaptureWebPage(WebPage(
      "#sticky { position: sticky; top: 0; height: 80px; box-sizing: border-box; padding: 0 16px;"
      "  background: #e3ebf7; border-bottom: 4px solid #2a5599; font: bold 22px/76px sans-serif; }"
      "p { margin: 0; padding: 0 16px; height: 24px; white-space: nowrap; overflow: hidden; }"
      "#box { margin: 16px 40px; width: 240px; height: 160px; text-align: center; font: bold 48px/160px monospace;"
      "  background: repeating-linear-gradient(90deg, #f60 0 12px, #fd0 12px 24px);"
      "  animation: slide 0.4s linear infinite; }"
      "@keyframes slide { to { background-position: 24px 0; } }",
      "<div id=\"sticky\">TallSnap: a bar that sticks to the top</div>" + lines[0] + "<div id=\"box\"></div>" +
          lines[1] + "<p>-- the end of the page --</p>"
          "<script>const box = document.getElementById('box'); let frame = 0;"
          "const tick = () => { box.textContent = frame++; requestAnimationFrame(tick); };"
          "requestAnimationFrame(tick);</script>"));
}

// A long table of rows alike but for their number, striped.
TEST_F(EndToEnd, ChromiumLongStripedTable) {
  std::string rows;
  for (int i = 1; i <= 110; ++i)
    rows += "<tr><td>" + std::to_string(i) + "</td><td>alike</td><td>the same text in every row</td><td>ok</td></tr>";
  CaptureWebPage(WebPage(
      "table { border-collapse: collapse; margin: 8px 12px; width: 576px; font: 14px/26px sans-serif; }"
      "th, td { border: 1px solid #b8c0cc; padding: 0 8px; white-space: nowrap; text-align: left; }"
      "th { background: #334466; color: #fff; }"
      "tbody tr:nth-child(even) { background: #eef2f8; }",
      "<table><thead><tr><th>#</th><th>kind</th><th>text</th><th>state</th></tr></thead><tbody>" + rows +
          "</tbody></table>"));
}

// A ledger between paragraphs: rows alike in every column but for a short item number, a
// coloured separator and a run of empty rows halfway down.
static std::string LedgerPage() {
  std::string prose, rows;
  for (int i = 0; i < 6; ++i) prose += "<p>A paragraph line " + std::to_string(i) + " about the ledger, whose rows are alike.</p>";
  for (int i = 1; i <= 90; ++i) {
    rows += "<tr><td>" + std::to_string(i) + "</td><td>widget</td><td>the same description in every row</td>"
            "<td>12.00</td></tr>";
    if (i == 45) {
      rows += "<tr class=\"separator\"><td colspan=\"4\"></td></tr>";
      for (int k = 0; k < 14; ++k) rows += "<tr><td></td><td></td><td></td><td></td></tr>";
    }
  }
  return WebPage(
      "table { border-collapse: collapse; margin: 8px 12px; width: 560px; font: 14px/26px sans-serif; }"
      "th, td { border: 1px solid #b8c0cc; padding: 0 8px; height: 26px; white-space: nowrap; text-align: left; }"
      "th { background: #334466; color: #fff; }"
      "tr.separator td { background: #e07020; height: 6px; padding: 0; }"
      "p { margin: 0; padding: 0 16px; height: 24px; white-space: nowrap; overflow: hidden; }",
      prose + "<table><thead><tr><th>#</th><th>item</th><th>description</th><th>price</th></tr></thead><tbody>" +
          rows + "</tbody></table>" + prose);
}
TEST_F(EndToEnd, ChromiumLedgerOfAlikeRows) { CaptureWebPage(LedgerPage()); }
// The same with chromium's scroll bar in the range, as people drag over the whole window: its
// thumb moves by less than the page does.
TEST_F(EndToEnd, ChromiumLedgerWithTheScrollBar) { CaptureWebPage(LedgerPage(), true); }

// tmux in xterm with its status line at the top, a header row that stands still, over less paged
// by keys: the range from the status line down, and the image holds that line once, at its top.
TEST_F(EndToEnd, TmuxStatusLineOverLess) {
  const std::string base = "/tmp/tallsnap-tmux-" + std::to_string(GetCurrentProcessId());
  const TempFile text{base + ".txt"}, conf{base + ".conf"};
  WriteFileBytes(WindowsPathOf(text.path), ProseText(300, 29));
  // Its own settings only, and a status line of fixed text; the server ends with its one client.
  WriteFileBytes(WindowsPathOf(conf.path),
                 "set -g status-position top\nset -g status-interval 0\nset -g status-style bg=blue,fg=white\n"
                 "set -g status-left ' a header row that stands still '\nset -g status-left-length 40\n"
                 "set -g status-right ''\nset -g window-status-format ''\nset -g window-status-current-format ''\n"
                 "set -s escape-time 0\nset -s exit-unattached on\n");
  Xterm xterm;
  ASSERT_TRUE(xterm.Start("6x13", 80, 36, 650, 150, 2,
                          "/usr/bin/tmux -S $DIR/tmux.socket -f " + conf.path + " new-session 'LESSHISTFILE=- "
                          "/usr/bin/less -S " + text.path + "'"));
  // The status line, then the page of less down to the line above its prompt.
  const RECT status{xterm.x + 2, xterm.y + 2, xterm.x + 2 + 401, xterm.y + 2 + 13};
  const RECT page{status.left, status.bottom, status.right, status.top + 13 * 35};
  // Both are there once the middle row of their first line of text is drawn.
  ASSERT_TRUE(PumpUntil([&] { return RangeRows(status)[6] != RangeRows(status)[0] && RangeRows(page)[6] != RangeRows(page)[0]; }, 10000));
  const ScreenRows band = RangeRows(status);
  const auto keys = [&](int steps) {
    std::string line;
    for (int i = 0; i < 3 * std::abs(steps); ++i) line += steps > 0 ? " j" : " k";
    xterm.Keys(line);
  };
  StepShots truth;
  ASSERT_TRUE(truth.Take(page, 11, [&] { keys(1); }, 3 * xterm.cellH));
  keys(-11);
  ASSERT_TRUE(truth.Shows(0));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  ASSERT_TRUE(DragRange(status.left, status.top, page.right, page.bottom));
  int at = 0;
  // Once the preview has lost the page, the steps after are not waited for.
  bool following = true;
  for (const int steps : {2, 3, -1, 4, 2}) {
    keys(steps);
    at += steps;
    ASSERT_TRUE(truth.Shows(at)) << at;
    ASSERT_TRUE(RangeRows(status) == band) << at;
    if (following && !PreviewShows(truth.WithBand(at, band, true), truth.RowsWithBand(at, band))) {
      ADD_FAILURE() << "the preview did not follow the step to " << at;
      following = false;
    }
  }
  ASSERT_TRUE(FinishThroughDialog(folder + "\\tmux.bmp"));
  ExpectFaithful(folder + "\\tmux.bmp", truth.WithBand(at, band, true), RangeWidth(), truth.RowsWithBand(at, band));
}
