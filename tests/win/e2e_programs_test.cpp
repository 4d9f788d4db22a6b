// Programs nobody here wrote, captured as a person does and checked against screenshots of the
// range taken a step apart before the capture: xterm, less, tmux and Wine's Notepad.
#include <windows.h>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

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

}  // namespace

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
TEST_F(EndToEnd, ALongTextInNotepad) { CaptureNotepad(false); }

// As people drag over Notepad: its scroll bar inside the range.
TEST_F(EndToEnd, ALongTextInNotepadWithItsScrollBar) { CaptureNotepad(true); }

void EndToEnd::CaptureNotepad(bool scrollBar) {
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
  POINT clientRight{client.right, 0};
  ClientToScreen(edit, &clientRight);
  const int right = scrollBar ? clientRight.x + GetSystemMetrics(SM_CXVSCROLL) : area.right;
  const RECT below{area.left, area.bottom, right, bar.bottom};
  const ScreenRows band = RangeRows(below);
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  ASSERT_TRUE(DragRange(area.left, area.top, right, below.bottom));
  ASSERT_TRUE(focusNotepad());
  wheel(kNotches);
  ASSERT_TRUE(truth.Shows(kNotches));
  ASSERT_TRUE(RangeRows(below) == band);
  const ImageRows expected = truth.WithBand(kNotches, band);
  const int rows = truth.RowsWithBand(kNotches, band);
  if (!scrollBar) {
    EXPECT_TRUE(PreviewShows(expected, rows));
  }
  shots.Shot("notepad-captured");
  const std::string file = folder + "\\notepad.bmp";
  ASSERT_TRUE(FinishThroughDialog(file));
  // The columns right of the text area's are whatever the image holds there.
  Picture written;
  ASSERT_TRUE(DecodeImageFile(file, written));
  const int textWidth = area.right - area.left;
  ExpectFaithful(file, [&](int x, int y) {
    if (x < textWidth) return expected(x, y);
    if (y >= static_cast<int>(written.height)) return 0u;
    const BYTE* p = &written.bgr[(static_cast<size_t>(y) * written.width + x) * 3];
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
  }, RangeWidth(), rows);
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
  // Both are there once the middle row of their first line of text is drawn, and of the page's
  // last: the first screenshot of the steps must not be caught while less still paints it.
  const auto drawn = [](const ScreenRows& rows, size_t line) { return rows[13 * line + 6] != rows[13 * line]; };
  ASSERT_TRUE(PumpUntil([&] {
    const ScreenRows shown = RangeRows(page);
    return drawn(RangeRows(status), 0) && drawn(shown, 0) && drawn(shown, shown.size() / 13 - 1);
  }, 10000));
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
