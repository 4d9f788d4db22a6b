// A capture as a user makes it: TallSnap runs in this process (so the tall image can be read),
// the scroll target in another, and the mouse is driven with xdotool.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "app/main_wnd.h"
#include "app/main_wnd_core.h"
#include "capture/session.h"
#include "capture/stitch.h"
#include "converters/kelvo_core.h"
#include "output/converter_link.h"
#include "output/handoff.h"
#include "scroll_content.h"
#include "state/state.h"
#include "state/surface.h"
#include "win_test_support.h"

namespace {

constexpr int kTargetX = 100, kTargetY = 150;
std::string g_folder;
PROCESS_INFORMATION g_target{};
HWND g_targetWindow = nullptr;

int TargetOffset() {
  char title[64] = {};
  GetWindowTextA(g_targetWindow, title, sizeof title);
  int offset = -1;
  std::sscanf(title, "scroll target %d", &offset);
  return offset;
}

// Runs xdotool on a thread of its own while this thread keeps TallSnap's windows answering.
void Xdotool(const std::string& args, const std::function<bool()>& thenUntil) {
  bool done = false;
  std::thread mouse([&] {
    RunUnix("/usr/bin/xdotool " + args, 30000);
    done = true;
  });
  PumpUntil([&] { return done; }, 40000);
  mouse.join();
  PumpUntil(thenUntil, 10000);
}

class CaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_folder = MakeTempFolder();
    std::string line = "\"" + ExeFolder() + "\\scroll_target.exe\" " + std::to_string(kTargetX) + " " +
                       std::to_string(kTargetY);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, g_folder.c_str(), &si, &g_target);
    PumpUntil([] { return (g_targetWindow = FindWindowA("ScrollTarget", nullptr)) != nullptr && TargetOffset() == 0; },
              20000);
    StartTallSnapIn(g_folder);
  }
  static void TearDownTestSuite() {
    if (IsWindow(glMainWnd)) DestroyWindow(glMainWnd);
    TerminateProcess(g_target.hProcess, 0);
    CloseHandle(g_target.hProcess);
    CloseHandle(g_target.hThread);
    SetCurrentDirectoryA(ExeFolder().c_str());
    RemoveFolderTree(g_folder);
  }
  void SetUp() override {
    ASSERT_NE(g_targetWindow, nullptr);
    ASSERT_NE(glConverterWnd, nullptr);
    if (glCapturing.load() != 0 || IsWindowVisible(GetDlgItem(glMainWnd, kIdCancelButton)))
      SendMessageA(GetDlgItem(glMainWnd, kIdCancelButton), BM_CLICK, 0, 0);
  }
  static void Click(int id) { SendMessageA(GetDlgItem(glMainWnd, id), BM_CLICK, 0, 0); }

  // "範囲指定する", then a drag from (x0, y0) to (x1, y1) in the range window.
  static void DragRange(int x0, int y0, int x1, int y1) {
    if (!IsWindowVisible(GetDlgItem(glMainWnd, kIdRangeButton))) Click(kIdReadyButton);
    Click(kIdRangeButton);
    ASSERT_TRUE(PumpUntil([] { return IsWindowVisible(glHanniWnd) != FALSE; }, 5000));
    const int xm = (x0 + x1) / 2, ym = (y0 + y1) / 2;
    Xdotool("mousemove " + std::to_string(x0) + " " + std::to_string(y0) + " sleep 0.1 mousedown 1 sleep 0.05 " +
                "mousemove " + std::to_string(xm) + " " + std::to_string(ym) + " sleep 0.05 mousemove " +
                std::to_string(x1) + " " + std::to_string(y1) + " sleep 0.05 mouseup 1",
            [] { return !IsWindowVisible(glHanniWnd) && glDragging == 0; });
  }
  // Wheel notches over the target (down when positive), waiting for the target to show them.
  static bool Scroll(int notches) {
    const int want = TargetOffset() + notches * kPixelsPerNotch;
    const std::string button = notches > 0 ? "5" : "4";
    Xdotool("mousemove " + std::to_string(kTargetX + kTargetWidth - 20) + " " +
                std::to_string(kTargetY + kTargetHeight - 20) + " click --repeat " +
                std::to_string(notches > 0 ? notches : -notches) + " --delay 120 " + button,
            [&] { return TargetOffset() == want; });
    return TargetOffset() == want;
  }
  static COLORREF BandColour() {
    POINT p{2, 20};
    ClientToScreen(glMainWnd, &p);
    return ScreenPixel(p.x, p.y);
  }
};

}  // namespace

TEST_F(CaptureTest, TheRangeWindowShowsTheScreenFrozen) {
  Click(kIdReadyButton);
  Click(kIdRangeButton);
  ASSERT_TRUE(PumpUntil([] { return IsWindowVisible(glHanniWnd) != FALSE; }, 5000));
  const int offset = TargetOffset();
  GdiFlush();
  for (const POINT p : {POINT{kTargetX + 5, kTargetY + 200}, POINT{kTargetX + 300, kTargetY + 480}}) {
    EXPECT_EQ(*SurfacePixel(glHanniMemDC, p.x, p.y), ContentPixel(p.x - kTargetX, offset + p.y - kTargetY));
    EXPECT_EQ(*SurfacePixel(glHanniMemBeforeDC, p.x, p.y), ContentPixel(p.x - kTargetX, offset + p.y - kTargetY));
  }
  // And the range window shows it on the screen, over the target.
  EXPECT_TRUE(PumpUntil([&] { return ScreenPixel(kTargetX + 5, kTargetY + 200) ==
                                     RGB(ContentPixel(5, offset + 200) >> 16, (ContentPixel(5, offset + 200) >> 8) & 0xFF,
                                         ContentPixel(5, offset + 200) & 0xFF); },
                        5000));
  // A move of the drag redraws the frame's strips alone: a pixel of the picture inside the
  // frame, far from them, stays as it was, and the window is asked to repaint a sliver of it.
  SendMessageA(glHanniWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
  SendMessageA(glHanniWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(600, 500));
  GdiFlush();
  *SurfacePixel(glHanniMemDC, 350, 300) = 0x123456u;
  ValidateRect(glHanniWnd, nullptr);
  SendMessageA(glHanniWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(640, 530));
  GdiFlush();
  EXPECT_EQ(*SurfacePixel(glHanniMemDC, 350, 300), 0x123456u);
  HRGN update = CreateRectRgn(0, 0, 0, 0);
  GetUpdateRgn(glHanniWnd, update, FALSE);
  std::vector<char> data(GetRegionData(update, 0, nullptr));
  ASSERT_GT(GetRegionData(update, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data())), 0u);
  DeleteObject(update);
  const RGNDATA* region = reinterpret_cast<const RGNDATA*>(data.data());
  const RECT* rects = reinterpret_cast<const RECT*>(region->Buffer);
  long area = 0;
  for (DWORD i = 0; i < region->rdh.nCount; ++i) area += (rects[i].right - rects[i].left) * (rects[i].bottom - rects[i].top);
  EXPECT_GT(area, 0);
  EXPECT_LT(area, glVirtualW * glVirtualH / 50);
  // Alt+F4 gives up the choice: the window hides, ready for the next one, and the range layout
  // returns. The frozen screen goes with the choice and comes back with the next one.
  SendMessageA(glHanniWnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(glHanniWnd));
  EXPECT_FALSE(IsWindowVisible(glHanniWnd));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdRangeButton)));
  EXPECT_EQ(glHanniMemDC.memDC, nullptr);
  EXPECT_EQ(glHanniMemBeforeDC.memDC, nullptr);
  Click(kIdRangeButton);
  EXPECT_TRUE(PumpUntil([] { return IsWindowVisible(glHanniWnd) != FALSE; }, 5000));
  EXPECT_NE(glHanniMemDC.memDC, nullptr);
  EXPECT_NE(glHanniMemBeforeDC.memDC, nullptr);
  ShowWindow(glHanniWnd, SW_HIDE);
  Click(kIdCancelButton);
}

TEST_F(CaptureTest, RangesAreStoredAsDraggedAndSmallOnesRefused) {
  DragRange(200, 300, 300, 400);  // exactly 100 x 100
  EXPECT_EQ(glHanniMemBeforeDC.memDC, nullptr);  // the capture runs without the frozen screen
  EXPECT_EQ(glHanniLeft, 197);
  EXPECT_EQ(glHanniTop, 297);
  EXPECT_EQ(glHanniRight, 303);
  EXPECT_EQ(glHanniBottom, 403);
  EXPECT_EQ(glHanniWidth, 100);
  EXPECT_EQ(glHanniHeight, 100);
  EXPECT_TRUE(PumpUntil([] { return glCapturing.load() == 1; }, 5000));
  Click(kIdCancelButton);
  EXPECT_EQ(glCapturing.load(), 0);

  DragRange(300, 400, 200, 300);  // the other way round
  EXPECT_EQ(glHanniLeft, 197);
  EXPECT_EQ(glHanniTop, 297);
  EXPECT_EQ(glHanniRight, 303);
  EXPECT_EQ(glHanniBottom, 403);
  Click(kIdCancelButton);

  DragRange(200, 300, 299, 450);  // 99 x 150: refused, back to the range layout
  EXPECT_EQ(glHanniWidth, 99);
  EXPECT_EQ(glHanniHeight, 150);
  EXPECT_EQ(glCapturing.load(), 0);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdRangeButton)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdSameRangeButton)));  // 99 + 6 > 100

  DragRange(250, 350, 250, 350);  // a click
  EXPECT_EQ(glHanniLeft, 247);
  EXPECT_EQ(glHanniRight, 253);
  EXPECT_EQ(glHanniWidth, 0);
  EXPECT_EQ(glCapturing.load(), 0);
  Click(kIdCancelButton);
}

TEST_F(CaptureTest, ScrollingDownUpAndDownBuildsTheTallImage) {
  const int offset0 = TargetOffset();
  const int x0 = 150, y0 = 200, w = 300, h = 300;
  DragRange(x0, y0, x0 + w, y0 + h);
  ASSERT_TRUE(PumpUntil([] { return glCapturing.load() == 1; }, 5000));
  ASSERT_EQ(glHanniWidth, w);
  ASSERT_EQ(glHanniHeight, h);
  EXPECT_EQ(glBufDC.width, w + 6);
  EXPECT_EQ(glBufDC.height, 4006);
  EXPECT_EQ(glSmallBufDC.height, h + 6);
  EXPECT_TRUE(PumpUntil([] { return BandColour() == RGB(255, 0, 0); }, 5000));
  // The first tick re-anchors the image 3 rows short of the grab.
  ASSERT_TRUE(PumpUntil([&] { return glScrollY.load() == h - 3; }, 5000));

  for (int notches : {20, -8, 15}) {
    ASSERT_TRUE(Scroll(notches)) << notches;
    const int expected = TargetOffset() - offset0 + h - 3;
    EXPECT_TRUE(PumpUntil([&] { return glScrollY.load() == expected; }, 5000))
        << notches << ": " << glScrollY.load() << " != " << expected;
  }

  Click(kIdCancelButton);  // stops the steps; the image stays
  EXPECT_EQ(glCapturing.load(), 0);
  EXPECT_TRUE(PumpUntil([] { return BandColour() == RGB(0, 255, 255); }, 5000));
  ASSERT_NE(glBufDC.view, nullptr);
  // Every row of the tall image is the target's content row, pixel for pixel: no seam, no frame.
  const int firstRow = offset0 + (y0 - kTargetY);
  int wrong = 0, firstWrong = -1;
  for (int y = 0; y < glScrollY.load(); ++y)
    for (int x = 0; x < w; ++x)
      if (*SurfacePixel(glBufDC, x, y) != ContentPixel(x0 - kTargetX + x, firstRow + y)) {
        if (firstWrong < 0) firstWrong = y;
        ++wrong;
      }
  EXPECT_EQ(wrong, 0) << "first wrong row " << firstWrong;

  // "前と同じ範囲で" starts afresh on the same rectangle.
  Click(kIdReadyButton);
  ASSERT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdSameRangeButton)));
  Click(kIdSameRangeButton);
  EXPECT_EQ(glCapturing.load(), 1);
  EXPECT_EQ(glHanniWidth, w);
  EXPECT_TRUE(PumpUntil([&] { return glScrollY.load() == h - 3; }, 5000));
  Click(kIdCancelButton);
}

namespace {

constexpr int kX0 = 150, kY0 = 200, kW = 300, kH = 300;

// A fresh session on the stored range, scrolled down a few notches; returns the rows the
// finished image must hold.
Picture CaptureAndExpect(int notches) {
  Picture expected;
  if (!IsWindowVisible(GetDlgItem(glMainWnd, kIdSameRangeButton))) {
    if (!IsWindowVisible(GetDlgItem(glMainWnd, kIdRangeButton)))
      SendMessageA(GetDlgItem(glMainWnd, kIdReadyButton), BM_CLICK, 0, 0);
  }
  const int offset0 = TargetOffset();
  SendMessageA(GetDlgItem(glMainWnd, kIdSameRangeButton), BM_CLICK, 0, 0);
  if (!PumpUntil([&] { return glScrollY.load() == kH - 3; }, 5000)) return expected;
  Xdotool("mousemove " + std::to_string(kTargetX + kTargetWidth - 20) + " " +
              std::to_string(kTargetY + kTargetHeight - 20) + " click --repeat " + std::to_string(notches) +
              " --delay 120 5",
          [&] { return TargetOffset() == offset0 + notches * kPixelsPerNotch; });
  const int height = TargetOffset() - offset0 + kH - 3;
  if (!PumpUntil([&] { return glScrollY.load() == height; }, 5000)) return expected;
  expected.width = kW;
  expected.height = static_cast<UINT>(height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint32_t p = ContentPixel(kX0 - kTargetX + x, offset0 + (kY0 - kTargetY) + y);
      expected.bgr.push_back(static_cast<BYTE>(p));
      expected.bgr.push_back(static_cast<BYTE>(p >> 8));
      expected.bgr.push_back(static_cast<BYTE>(p >> 16));
    }
  return expected;
}

void SetFormat(const char* text) {
  SendMessageA(GetDlgItem(glMainWnd, kIdFormatBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void SetName(const std::string& name) {
  SendMessageA(GetDlgItem(glMainWnd, kIdNameBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
}
void SetDesktop(bool on) {
  SendMessageA(GetDlgItem(glMainWnd, kIdDesktopCheck), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}
bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Rows of the clipboard's bitmap that differ from the picture's; -1 when it holds no bitmap of
// that size.
int WrongClipboardRows(const Picture& expected) {
  if (!OpenClipboard(nullptr)) return -1;
  HBITMAP bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(expected.width);
  info.bmiHeader.biHeight = -static_cast<LONG>(expected.height);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  const UINT stride = (expected.width * 3 + 3) & ~3u;
  std::vector<BYTE> rows(stride * expected.height);
  HDC dc = GetDC(nullptr);
  const int got = bitmap != nullptr ? GetDIBits(dc, bitmap, 0, expected.height, rows.data(), &info, DIB_RGB_COLORS) : 0;
  ReleaseDC(nullptr, dc);
  CloseClipboard();
  if (got != static_cast<int>(expected.height)) return -1;
  int wrong = 0;
  for (UINT y = 0; y < expected.height; ++y)
    wrong += std::memcmp(&rows[y * stride], &expected.bgr[y * expected.width * 3], expected.width * 3) != 0;
  return wrong;
}

// Ends the converter's process, as a crash or the task manager would.
void EndConverter() {
  DWORD pid = 0;
  GetWindowThreadProcessId(glConverterWnd, &pid);
  HANDLE kelvo = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  TerminateProcess(kelvo, 1);
  WaitForSingleObject(kelvo, 10000);
  CloseHandle(kelvo);
}

bool SameImage(const std::string& file, const Picture& expected) {
  Picture back;
  return DecodeImageFile(file, back) && back.bgr == expected.bgr;
}

}  // namespace

TEST_F(CaptureTest, FinishingWritesEveryFormatNumbered) {
  DragRange(kX0, kY0, kX0 + kW, kY0 + kH);
  Click(kIdCancelButton);
  // A name that does not end in digits, which the numbering would take for its counter.
  const std::string name = "tallsnap-test-" + std::to_string(GetCurrentProcessId()) + "-shot";
  const std::string stem = std::string(glDesktopPath) + "\\" + name;
  SetDesktop(true);
  SetName(name);

  const struct {
    const char* format;
    std::vector<std::string> files;
  } runs[] = {
      {"png (イラスト向け、無劣化、ﾌｧｲﾙｻｲｽﾞ中)", {stem + ".png"}},
      {"bmp (何かの作業向け、無劣化、ﾌｧｲﾙｻｲｽﾞ大)", {stem + ".bmp"}},
      {"jpg (写真向け、劣化、ﾌｧｲﾙｻｲｽﾞ小)", {stem + ".jpg"}},
      // All three, with a.bmp already there: the numbered stem carries over to each.
      {"3種類全て作ってみる！ おためし！", {stem + "001.bmp", stem + "001.png", stem + "001.jpg"}},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.format);
    SetFormat(run.format);
    const Picture expected = CaptureAndExpect(3);
    ASSERT_GT(expected.height, 0u);
    DeleteFileA((g_folder + "\\ForTarvin.txt").c_str());
    Click(kIdFinishButton);
    EXPECT_EQ(glBufDC.memDC, nullptr);  // the surfaces went with the finish
    // The quality left for Tarvin.exe on every file, BMP too: three bytes, no line end.
    EXPECT_EQ(ReadFileBytes(g_folder + "\\ForTarvin.txt"), "100");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdReadyButton)));
    for (const std::string& file : run.files) {
      Picture back;
      ASSERT_TRUE(DecodeImageFile(file, back)) << file;
      EXPECT_EQ(back.width, expected.width) << file;
      EXPECT_EQ(back.height, expected.height) << file;
      if (file.find(".jpg") == std::string::npos) {
        EXPECT_TRUE(back.bgr == expected.bgr) << file;
      }
    }
  }
  // The desktop became the save folder, and the name is in the history once.
  EXPECT_STREQ(FileHozonFolderPath, (std::string(glDesktopPath) + "\\").c_str());
  EXPECT_EQ(glNameCount, 1);
  for (const char* ext : {".png", ".bmp", ".jpg", "001.bmp", "001.png", "001.jpg"}) DeleteFileA((stem + ext).c_str());
  SetDesktop(false);
}

TEST_F(CaptureTest, NeitherAFileHeldOpenNorADeviceIsWrittenInto) {
  DragRange(kX0, kY0, kX0 + kW, kY0 + kH);
  Click(kIdCancelButton);
  const std::string stem =
      std::string(glDesktopPath) + "\\tallsnap-held-" + std::to_string(GetCurrentProcessId()) + "-shot";
  WriteFileBytes(stem + ".bmp", "mine");
  HANDLE held = CreateFileA((stem + ".bmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  SetDesktop(true);
  SetName(stem.substr(stem.rfind('\\') + 1));
  SetFormat("bmp");
  const Picture expected = CaptureAndExpect(2);
  Click(kIdFinishButton);
  CloseHandle(held);
  EXPECT_EQ(ReadFileBytes(stem + ".bmp"), "mine");
  Picture back;
  ASSERT_TRUE(DecodeImageFile(stem + "001.bmp", back));
  EXPECT_TRUE(back.bgr == expected.bgr);
  DeleteFileA((stem + ".bmp").c_str());
  DeleteFileA((stem + "001.bmp").c_str());
  // A name Windows keeps for a device is numbered too: the image lands in a file, not the device.
  const std::string device = std::string(glDesktopPath) + "\\NUL001.bmp";
  DeleteFileA(device.c_str());
  SetName("NUL");
  const Picture shot = CaptureAndExpect(2);
  Click(kIdFinishButton);
  ASSERT_TRUE(DecodeImageFile(device, back));
  EXPECT_TRUE(back.bgr == shot.bgr);
  DeleteFileA(device.c_str());
  SetDesktop(false);
}

TEST_F(CaptureTest, TheClipboardGetsTheWholeImage) {
  DragRange(kX0, kY0, kX0 + kW, kY0 + kH);
  Click(kIdCancelButton);
  SetFormat("BMPをクリップボードに保存");
  Picture expected = CaptureAndExpect(2);
  // Content that ends in black rows (a terminal's last lines, a dark footer) keeps them all,
  // whatever lies below. (The ticks stop first, or the next one would write the rows again.)
  glCapturing = 0;
  StopCaptureTimer();
  // Nor may the finish's last grab: the page moves on, so it shows none of the rows at the end.
  const int offset = TargetOffset();
  Xdotool("mousemove " + std::to_string(kTargetX + kTargetWidth - 20) + " " +
              std::to_string(kTargetY + kTargetHeight - 20) + " click 5",
          [&] { return TargetOffset() == offset + kPixelsPerNotch; });
  const int black = 10, height = glScrollY.load();
  const PixelView image = SurfaceView(glBufDC);
  for (int y = height - black; y < image.height; ++y) std::memset(ViewRow(image, y), 0, 4u * kW);
  std::fill(expected.bgr.end() - 3 * kW * black, expected.bgr.end(), BYTE{0});
  // A "clpbd.bmp" left by an earlier run (ended during its finish) holds another image.
  const std::vector<uint32_t> white(16, 0xFFFFFFu);
  ASSERT_TRUE(BmpSaveByDIBS("clpbd.bmp", white.data(), 4, 4, 0));
  Click(kIdFinishButton);
  EXPECT_FALSE(Exists("clpbd.bmp"));
  EXPECT_EQ(WrongClipboardRows(expected), 0);
}

TEST_F(CaptureTest, TheSaveDialogChoosesOrCancels) {
  DragRange(kX0, kY0, kX0 + kW, kY0 + kH);
  Click(kIdCancelButton);
  SetDesktop(false);
  SetName("picked");
  SetFormat("png");
  lstrcpyA(FileHozonFolderPath, g_folder.c_str());
  DWORD kelvoPid = 0;
  GetWindowThreadProcessId(glConverterWnd, &kelvoPid);

  const Picture expected = CaptureAndExpect(2);
  DialogDriver user(kelvoPid, "picked.png");
  user.AnswerWhile([] { Click(kIdFinishButton); });
  ASSERT_TRUE(user.sawDialog);
  ASSERT_FALSE(user.forcedClose) << user.lastText;
  EXPECT_EQ(user.dialogTitle, "保存先(フォルダ)と名前を決めてください");
  Picture back;
  ASSERT_TRUE(DecodeImageFile(g_folder + "\\picked.png", back));
  EXPECT_TRUE(back.bgr == expected.bgr);
  EXPECT_EQ(std::string(FileHozonFolderPath), g_folder + "\\");
  EXPECT_EQ(ReadFileBytes(g_folder + "\\TallSnap個人設定\\FileHozonPath.txt"), g_folder + "\\" + std::string(1, '\0'));

  // Cancelled: nothing written and nothing remembered, the image kept beside "終わる"; then
  // "終わる" again writes it.
  const Picture again = CaptureAndExpect(1);
  DialogDriver cancel(kelvoPid, "");
  cancel.AnswerWhile([] { Click(kIdFinishButton); });
  ASSERT_TRUE(cancel.sawDialog);
  EXPECT_FALSE(cancel.forcedClose);
  EXPECT_FALSE(Exists(g_folder + "\\picked001.png"));
  EXPECT_NE(glBufDC.memDC, nullptr);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(glMainWnd, kIdReadyButton)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdFinishButton)));
  EXPECT_EQ(std::string(FileHozonFolderPath), g_folder + "\\");
  EXPECT_EQ(ReadFileBytes(g_folder + "\\TallSnap個人設定\\FileHozonPath.txt"),
            g_folder + "\\" + std::string(1, '\0'));
  DialogDriver second(kelvoPid, "picked.png");
  second.AnswerWhile([] { Click(kIdFinishButton); });
  ASSERT_FALSE(second.forcedClose) << second.lastText;
  Picture written;
  ASSERT_TRUE(DecodeImageFile(g_folder + "\\picked001.png", written));
  EXPECT_TRUE(written.bgr == again.bgr);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdReadyButton)));
}

TEST_F(CaptureTest, AConverterThatIsGoneIsStartedAgainOrDoneWithout) {
  DragRange(kX0, kY0, kX0 + kW, kY0 + kH);
  Click(kIdCancelButton);
  SetDesktop(true);
  const std::string desk = std::string(glDesktopPath) + "\\", tag = std::to_string(GetCurrentProcessId());
  // Ended since start-up: the next finish starts it again, and the PNG is made.
  HWND first = glConverterWnd;
  EndConverter();
  SetName("again" + tag);
  SetFormat("png");
  Picture expected = CaptureAndExpect(2);
  Click(kIdFinishButton);
  EXPECT_TRUE(SameImage(desk + "again" + tag + ".png", expected));
  EXPECT_NE(glConverterWnd, first);

  // Gone for good: all three formats give one BMP and one message, and the clipboard still
  // gets the image, with no message at all.
  EndConverter();
  ASSERT_TRUE(MoveFileA("Kelvo.exe", "Kelvo.away"));
  SetName("kept" + tag);
  SetFormat("3種類全て作ってみる！ おためし！");
  expected = CaptureAndExpect(2);
  {
    DialogAnswerer answerer;
    Click(kIdFinishButton);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].caption, "<(_ _)>");
    EXPECT_NE(answerer.Seen()[0].text.find(desk + "kept" + tag + ".bmp"), std::string::npos) << answerer.Seen()[0].text;
    EXPECT_TRUE(SameImage(desk + "kept" + tag + ".bmp", expected));
    for (const char* other : {"001.bmp", ".png", ".jpg"}) EXPECT_FALSE(Exists(desk + "kept" + tag + other)) << other;

    SetFormat("BMPをクリップボードに保存");
    expected = CaptureAndExpect(2);
    Click(kIdFinishButton);
    EXPECT_EQ(answerer.Seen().size(), 1u);
    EXPECT_FALSE(Exists("clpbd.bmp"));
    EXPECT_EQ(WrongClipboardRows(expected), 0);
  }
  ASSERT_TRUE(MoveFileA("Kelvo.away", "Kelvo.exe"));
  EXPECT_TRUE(EnsureConverter());  // the converter the other tests use
  for (const char* file : {"again", "kept"}) DeleteFileA((desk + file + tag + (file[0] == 'a' ? ".png" : ".bmp")).c_str());
  SetDesktop(false);
}

TEST_F(CaptureTest, AFinishThatCannotWriteKeepsTheImage) {
  DragRange(kX0, kY0, kX0 + kW, kY0 + kH);
  Click(kIdCancelButton);
  SetDesktop(true);
  SetFormat("bmp");
  const std::string desktop = glDesktopPath;
  DialogAnswerer answerer;
  size_t told = 0;
  // Each of these finishes reports why and keeps the image for the next press of "終わる".
  auto keeps = [&](const char* what) {
    Click(kIdFinishButton);
    ASSERT_EQ(answerer.Seen().size(), ++told) << what;
    EXPECT_NE(answerer.Seen().back().text.find("もう一度「終わる」"), std::string::npos) << what;
    EXPECT_NE(glBufDC.memDC, nullptr) << what;
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdFinishButton))) << what;
  };
  Picture expected = CaptureAndExpect(2);
  SetName("full");
  lstrcpyA(glDesktopPath, (g_folder + "\\gone").c_str());
  keeps("a folder that is gone");
  lstrcpyA(glDesktopPath, desktop.c_str());
  SetName(std::string(kTextBufBytes - desktop.size() - 1, 'n'));
  keeps("a path of 264 bytes");
  lstrcpyA(glDesktopPath, g_folder.c_str());
  SetName("full");
  WriteFileBytes(g_folder + "\\full.bmp", "x");
  for (int n = 0; n < 256; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "\\full%03d.bmp", n);
    WriteFileBytes(g_folder + name, "x");
  }
  keeps("every number taken");
  DeleteFileA((g_folder + "\\full.bmp").c_str());
  Click(kIdFinishButton);  // the same image, at last
  EXPECT_TRUE(SameImage(g_folder + "\\full.bmp", expected));
  EXPECT_EQ(glBufDC.memDC, nullptr);

  // Another program holds the clipboard: a moment is waited out, a long hold is not.
  SetFormat("BMPをクリップボードに保存");
  expected = CaptureAndExpect(2);
  std::atomic<int> holdMs{60000};
  std::atomic<bool> holding{false};
  auto hold = [&] {
    HWND owner = CreateWindowA("STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    holding = OpenClipboard(owner) != FALSE;
    for (DWORD start = GetTickCount(); GetTickCount() - start < static_cast<DWORD>(holdMs.load());) Sleep(10);
    CloseClipboard();
    DestroyWindow(owner);
    holding = false;
  };
  std::thread holder(hold);
  ASSERT_TRUE(PumpUntil([&] { return holding.load(); }, 5000));
  keeps("the clipboard held");
  holdMs = 0;
  holder.join();
  holdMs = 300;
  std::thread briefHolder(hold);
  ASSERT_TRUE(PumpUntil([&] { return holding.load(); }, 5000));
  Click(kIdFinishButton);
  briefHolder.join();
  EXPECT_EQ(answerer.Seen().size(), told);
  EXPECT_EQ(WrongClipboardRows(expected), 0);

  // A converter that never answers the save request: the image is written as a BMP in the save
  // folder, and the message names it.
  SetDesktop(false);
  SetFormat("png");
  SetName("noreply");
  lstrcpyA(FileHozonFolderPath, g_folder.c_str());
  expected = CaptureAndExpect(2);
  HWND kelvo = glConverterWnd;
  glConverterWnd = CreateWindowA("STATIC", KELVO_WINDOW_TITLE, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  Click(kIdFinishButton);
  DestroyWindow(glConverterWnd);
  glConverterWnd = kelvo;
  ASSERT_EQ(answerer.Seen().size(), told + 1);
  EXPECT_NE(answerer.Seen().back().text.find(g_folder + "\\noreply.bmp"), std::string::npos)
      << answerer.Seen().back().text;
  EXPECT_TRUE(SameImage(g_folder + "\\noreply.bmp", expected));
  EXPECT_EQ(glBufDC.memDC, nullptr);
  told = answerer.Seen().size();

  // Names Windows refuses (NTFS would take "12:30" for a stream of an empty "12"): the message
  // names the character, and the name box, the desktop check and the format list stay at hand.
  SetDesktop(true);
  SetFormat("bmp");
  lstrcpyA(glDesktopPath, g_folder.c_str());
  expected = CaptureAndExpect(2);
  for (const char* bad : {"12:30", "a?b"}) {
    SetName(bad);
    keeps(bad);
    EXPECT_NE(answerer.Seen().back().text.find(std::string("「") + *std::strpbrk(bad, ":?") + "」"), std::string::npos)
        << answerer.Seen().back().text;
  }
  EXPECT_FALSE(Exists(g_folder + "\\12"));
  RECT finish{}, cancel{};
  GetWindowRect(GetDlgItem(glMainWnd, kIdFinishButton), &finish);
  GetWindowRect(GetDlgItem(glMainWnd, kIdCancelButton), &cancel);
  for (int id : {kIdNameBox, kIdDesktopCheck, kIdFormatBox, kIdCancelButton}) {
    HWND control = GetDlgItem(glMainWnd, id);
    EXPECT_TRUE(IsWindowVisible(control)) << id;
    RECT r{}, overlap{};
    GetWindowRect(control, &r);
    if (id == kIdFormatBox || id == kIdNameBox) r.bottom = r.top + 20;  // the dropped list aside
    EXPECT_FALSE(IntersectRect(&overlap, &r, &finish)) << id;
    if (id != kIdCancelButton) {
      EXPECT_FALSE(IntersectRect(&overlap, &r, &cancel)) << id;
    }
  }
  // Closing now asks first; "いいえ" keeps TallSnap open with the image.
  answerer.button = IDNO;
  SendMessageA(glMainWnd, WM_CLOSE, 0, 0);
  answerer.button = IDOK;
  ASSERT_EQ(answerer.Seen().size(), ++told);
  EXPECT_NE(answerer.Seen().back().text.find("保存しないで終わりますか"), std::string::npos);
  ASSERT_TRUE(IsWindow(glMainWnd));
  EXPECT_NE(glBufDC.memDC, nullptr);
  // The name put right, the next "終わる" writes the image.
  SetName("put right");
  Click(kIdFinishButton);
  EXPECT_EQ(answerer.Seen().size(), told);
  EXPECT_TRUE(SameImage(g_folder + "\\put right.bmp", expected));
  EXPECT_EQ(glBufDC.memDC, nullptr);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(glMainWnd, kIdReadyButton)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(glMainWnd, kIdFinishButton)));

  // A conversion Kelvo could not make (its folder went away) is answered at once: no minute of
  // waiting for a file that never comes.
  SetFormat("png");
  SetName("refused");
  lstrcpyA(glDesktopPath, (g_folder + "\\gone").c_str());
  expected = CaptureAndExpect(2);
  const DWORD start = GetTickCount();
  keeps("a conversion refused");
  const DWORD took = GetTickCount() - start;
  std::printf("a refused conversion: the finish ends after %lu ms\n", static_cast<unsigned long>(took));
  EXPECT_NE(answerer.Seen().back().text.find("Kelvo.exeが画像を作れませんでした"), std::string::npos);
  EXPECT_LT(took, 10000u);
  // With a save folder that is there, the image refused lands there as a BMP the message names.
  lstrcpyA(FileHozonFolderPath, g_folder.c_str());
  const std::vector<uint32_t> pixels(64 * 48, 0x336699u);
  std::string problem;
  EXPECT_EQ(HandOffImage(g_folder + "\\gone\\refused.png", pixels.data(), 64, 48, 100, problem), HandOff::SavedAsBmp)
      << problem;
  ASSERT_EQ(answerer.Seen().size(), ++told);
  EXPECT_NE(answerer.Seen().back().text.find(g_folder + "\\refused.bmp"), std::string::npos)
      << answerer.Seen().back().text;
  EXPECT_TRUE(Exists(g_folder + "\\refused.bmp"));
  lstrcpyA(glDesktopPath, desktop.c_str());
  Click(kIdCancelButton);
}

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

}  // namespace

TEST_F(CaptureTest, TwoHundredSessionsLeaveNothingBehind) {
  DragRange(kX0, kY0, kX0 + kW, kY0 + kH);
  Click(kIdCancelButton);
  const std::string out = g_folder + "\\soak", desktop = glDesktopPath;
  CreateDirectoryA(out.c_str(), nullptr);
  lstrcpyA(glDesktopPath, out.c_str());
  SetDesktop(true);
  SetName("soak");
  const struct {
    const char* format;
    size_t files;  // the clipboard gets a bitmap instead
  } modes[] = {{"jpg (写真向け、劣化、ﾌｧｲﾙｻｲｽﾞ小)", 1}, {"png (イラスト向け、無劣化、ﾌｧｲﾙｻｲｽﾞ中)", 1},
               {"bmp (何かの作業向け、無劣化、ﾌｧｲﾙｻｲｽﾞ大)", 1}, {"3種類全て作ってみる！ おためし！", 3},
               {"BMPをクリップボードに保存", 0}};
  DialogAnswerer answerer;
  // range layout, same range, the first ticks, then finish or cancel
  auto session = [&](int i, bool finish) {
    Click(kIdReadyButton);
    Click(kIdSameRangeButton);
    ASSERT_TRUE(PumpUntil([] { return glScrollY.load() == kH - 3; }, 5000)) << i;
    if (!finish) return Click(kIdCancelButton);
    const auto& mode = modes[(i / 2) % 5];
    SetFormat(mode.format);
    if (OpenClipboard(nullptr)) {
      EmptyClipboard();
      CloseClipboard();
    }
    const size_t before = FilesIn(out).size();
    Click(kIdFinishButton);
    EXPECT_EQ(FilesIn(out).size(), before + mode.files) << i << " " << mode.format;
    if (mode.files == 0) {
      EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP)) << i;
    }
    EXPECT_EQ(glBufDC.memDC, nullptr) << i;
  };
  // Kelvo counts its own: from outside, Wine answers 0.
  auto kelvoCounts = [] {
    ResourceCounts c;
    c.gdi = static_cast<int>(SendMessageA(glConverterWnd, kKelvoCountsMessage, 0, 0));
    c.user = static_cast<int>(SendMessageA(glConverterWnd, kKelvoCountsMessage, 1, 0));
    c.handles = static_cast<int>(SendMessageA(glConverterWnd, kKelvoCountsMessage, 2, 0));
    return c;
  };
  for (int i = 0; i < 10; ++i) session(i, i % 2 == 0);  // one finish of each mode first
  HWND kelvo = glConverterWnd;
  const ResourceCounts start = OwnResourceCounts(), kelvoStart = kelvoCounts();
  const std::vector<std::string> work = FilesIn(g_folder), scratch = FilesIn(g_folder + "\\ファイルマップフォルダ");
  const DWORD began = GetTickCount();
  for (int i = 10; i < 210 && !HasFatalFailure(); ++i) session(i, i % 2 == 0);
  const DWORD tookMs = GetTickCount() - began;
  const ResourceCounts end = OwnResourceCounts(), kelvoEnd = kelvoCounts();
  std::printf("soak: 100 finishes and 100 cancels in %lu ms\n", static_cast<unsigned long>(tookMs));
  for (const auto& [who, before, after] : {std::make_tuple("TallSnap", start, end), std::make_tuple("Kelvo", kelvoStart, kelvoEnd)}) {
    std::printf("soak: %s: GDI objects %d -> %d, USER objects %d -> %d, handles %d -> %d\n", who, before.gdi, after.gdi,
                before.user, after.user, before.handles, after.handles);
    EXPECT_GT(before.gdi, 0) << who;
    EXPECT_GT(before.handles, 0) << who;
    EXPECT_LE(after.gdi, before.gdi + 4) << who;
    EXPECT_LE(after.user, before.user + 2) << who;
    EXPECT_LE(after.handles, before.handles + 8) << who;
  }
  EXPECT_EQ(glConverterWnd, kelvo);  // the same converter all along
  EXPECT_EQ(answerer.Seen().size(), 0u);
  EXPECT_EQ(FilesIn(g_folder), work);
  EXPECT_EQ(FilesIn(g_folder + "\\ファイルマップフォルダ"), scratch);
  lstrcpyA(glDesktopPath, desktop.c_str());
  SetDesktop(false);
}
