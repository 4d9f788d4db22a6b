#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/main_wnd.h"
#include "app/main_wnd_core.h"
#include "e2e_support.h"
#include "shared/converter_protocol.h"
#include "state/state.h"
#include "win_test_support.h"

namespace {

// The title as Shift-JIS bytes, spelled out so that the compiler's conversion is checked too.
const char kTitleBytes[] = "TallSnap \x81" "i\x81" "e v\x81" "e\x81" "j/\x81" "@\x8F" "c\x92" "\xB7" "\x89" "\xE6"
                           "\x91" "\x9C" "\x82" "\xF0" "\x88" "\xEA" "\x94" "\xAD" "\x83" "Q\x83" "b\x83" "g\x81" "I";

struct TableControl {
  int id;
  const char* cls;
  const char* text;  // nullptr: a combobox, whose text comes from elsewhere
  DWORD style;
  ControlRect place;  // at 96 DPI; a combobox's height includes its dropped list
};
const TableControl kTable[] = {
    {1000, "button", "範囲指定する", BS_MULTILINE, {322, 22, 93, 20}},
    {1001, "button", "終わる", 0, {389, 22, 110, 18}},
    {1002, "static",
     "★撮影中！画像のスライドバーを使って下にゆっくりスクロールさせて下さい。途中で切れたら、上に戻してから再度下にスクロ"
     "ールしてください。行きすぎたら、上に戻してください。",
     0, {5, 6, 378, 38}},
    {1003, "combobox", nullptr, CBS_DROPDOWN, {66, 0, 283, 555}},
    {1004, "static", "★保存形式", 0, {5, 6, 61, 11}},
    {1005, "static", "★名前 (同じ名前を避けるために自動で数字がつく)", 0, {5, 6, 264, 12}},
    {1006, "static", "★ゲットしたい画像の上端が見える状態にしてください。", 0, {5, 25, 283, 12}},
    {1007, "static", "★ココを押してから画像の見えている範囲を斜めにドラッグ　→", 0, {6, 23, 319, 12}},
    {1008, "button", "見えるようにしたら押してください。", 0, {286, 23, 184, 20}},
    {1009, "button", "前と同じ範囲で", 0, {446, 22, 84, 22}},
    {1010, "button", "キャンセル", 0, {437, 2, 60, 17}},
    {1011, "combobox", nullptr, CBS_DROPDOWN | CBS_SORT, {269, 0, 263, 666}},
    {1012, "button", "最新版？", 0, {541, 0, 56, 23}},
    {1013, "button", "デスクトップに保存", BS_AUTOCHECKBOX, {473, 25, 122, 14}},
};

std::string g_folder;

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_folder = MakeTempFolder();
    StartTallSnapIn(g_folder);
  }
  static void TearDownTestSuite() {
    if (IsWindow(glMainWnd)) DestroyWindow(glMainWnd);
    SetCurrentDirectoryA(ExeFolder().c_str());
    RemoveFolderTree(g_folder);
  }
  void SetUp() override {
    glHanniLeft = glHanniRight = 0;
    glCapturing = 0;
    ShowStartLayout();
  }
  static HWND Control(int id) { return GetDlgItem(glMainWnd, id); }
  static void Click(int id) { SendMessageA(Control(id), BM_CLICK, 0, 0); }
  static std::set<int> VisibleControls() {
    std::set<int> ids;
    for (int id = 1000; id <= 1013; ++id)
      if (IsWindowVisible(Control(id))) ids.insert(id);
    return ids;
  }
  static POINT ClientToScreenPoint(int x, int y) {
    POINT p{x, y};
    ClientToScreen(glMainWnd, &p);
    return p;
  }
  static COLORREF ClientPixel(int x, int y) {
    UpdateWindow(glMainWnd);
    GdiFlush();
    const POINT p = ClientToScreenPoint(x, y);
    return ScreenPixel(p.x, p.y);
  }
  static bool ClientPixelBecomes(int x, int y, COLORREF colour) {
    RepaintMainWnd();
    return PumpUntil([&] { return ClientPixel(x, y) == colour; }, 3000);
  }
  static RECT PlaceOf(int id) {
    RECT r{};
    GetWindowRect(Control(id), &r);
    MapWindowPoints(nullptr, glMainWnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  static bool IsComboBox(int id) { return id == kIdFormatBox || id == kIdNameBox; }
  // Every control at its table place scaled to this DPI, with the main font.
  static void ExpectControlsAt(int dpi) {
    for (const TableControl& c : kTable) {
      SCOPED_TRACE(c.id);
      EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(Control(c.id), WM_GETFONT, 0, 0)), glMainFont);
      const ControlRect want = ScaleRectToDpi(c.place, dpi);
      const RECT r = PlaceOf(c.id);
      EXPECT_EQ(r.left, want.x);
      EXPECT_EQ(r.top, want.y);
      EXPECT_EQ(r.right - r.left, want.w);
      if (IsComboBox(c.id)) {
        // The height given reaches down to the bottom of the dropped list.
        RECT list{};
        SendMessageA(Control(c.id), CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
        MapWindowPoints(nullptr, glMainWnd, reinterpret_cast<POINT*>(&list), 2);
        // Wine keeps the edit's own height out of it; Windows does not.
        EXPECT_NEAR(list.bottom - r.top, want.h, ScaleToDpi(30, dpi)) << "height with the list";
      } else {
        EXPECT_EQ(r.bottom - r.top, want.h);
      }
    }
  }
  // With the layout shown, at the main window's DPI: every visible control lies inside the
  // client area, and two visible controls overlap only where their table places overlap at
  // 96 DPI, by no more than that overlap scaled (and a pixel for rounding).
  static void ExpectVisibleControlsFit(int dpi, const std::string& layout) {
    SCOPED_TRACE(layout + " layout at " + std::to_string(dpi) + " DPI");
    RECT client{};
    GetClientRect(glMainWnd, &client);
    const std::set<int> shown = VisibleControls();
    for (int id : shown) {
      const RECT r = PlaceOf(id);
      EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
          << id << " at " << r.left << "," << r.top << " - " << r.right << "," << r.bottom << " in " << client.right
          << " x " << client.bottom;
    }
    for (int a : shown)
      for (int b : shown) {
        if (b <= a) continue;
        const RECT ra = PlaceOf(a), rb = PlaceOf(b);
        RECT now{}, then{};
        if (!IntersectRect(&now, &ra, &rb)) continue;
        const RECT ta = TablePlace(a, ra, dpi), tb = TablePlace(b, rb, dpi);
        EXPECT_TRUE(IntersectRect(&then, &ta, &tb)) << a << " and " << b << " overlap, unlike at 96 DPI";
        EXPECT_LE(now.right - now.left, ScaleToDpi(then.right - then.left, dpi) + 1) << a << " and " << b;
        EXPECT_LE(now.bottom - now.top, ScaleToDpi(then.bottom - then.top, dpi) + 1) << a << " and " << b;
      }
  }
  // A control's place at 96 DPI; a combobox's closed height is its own, so it comes from the
  // box as it is, scaled back.
  static RECT TablePlace(int id, const RECT& now, int dpi) {
    const ControlRect& p = kTable[id - kIdRangeButton].place;
    const int h = IsComboBox(id) ? static_cast<int>((now.bottom - now.top) * kBaseDpi / dpi) : p.h;
    return RECT{p.x, p.y, p.x + p.w, p.y + h};
  }
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TEST_F(MainWindowTest, StartUpFillsTheStateAndMakesTheWindows) {
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, cwd);
  EXPECT_STREQ(glStartDir, cwd);
  EXPECT_TRUE(FolderExists("TallSnap個人設定"));
  EXPECT_TRUE(FolderExists("ファイルマップフォルダ"));
  EXPECT_EQ(glBorder, 3);
  EXPECT_EQ(glBufMaxH, 4000);
  EXPECT_EQ(glVirtualW, GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(glVirtualH, GetSystemMetrics(SM_CYVIRTUALSCREEN));
  EXPECT_NE(glDisplayDC, nullptr);
  EXPECT_GT(std::strlen(glDesktopPath), 2u);
  EXPECT_NE(glMainFont, glHanniFont);
  EXPECT_NE(glArrowCursor, nullptr);
  EXPECT_NE(glCrossCursor, nullptr);

  // The start-up tick ran once: its timer is gone, the converter found, the range surfaces made.
  EXPECT_FALSE(KillTimer(glMainWnd, 0));
  char converterTitle[64] = {};
  GetWindowTextA(glConverterWnd, converterTitle, sizeof converterTitle);
  EXPECT_STREQ(converterTitle, "圧縮ファイルBMP変換だぞ");
  EXPECT_EQ(glHanniMemDC.width, glVirtualW + 200);
  EXPECT_EQ(glHanniMemDC.height, glVirtualH + 200);
  EXPECT_NE(glHanniMemBeforeDC.memDC, nullptr);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(glMainWnd, kIdRangeButton)));

  char title[256] = {};
  GetWindowTextA(glMainWnd, title, sizeof title);
  EXPECT_STREQ(title, kTitleBytes);
  char cls[64] = {};
  GetClassNameA(glMainWnd, cls, sizeof cls);
  EXPECT_STREQ(cls, "NORMAL0");
  EXPECT_EQ(GetClassLongPtrA(glMainWnd, GCL_STYLE), 11);
  EXPECT_EQ(reinterpret_cast<HBRUSH>(GetClassLongPtrA(glMainWnd, GCLP_HBRBACKGROUND)), glCyanBrush);
  EXPECT_TRUE(GetWindowLongA(glMainWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  const LONG style = GetWindowLongA(glMainWnd, GWL_STYLE);
  EXPECT_EQ(style & (WS_VISIBLE | WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW),
            static_cast<LONG>(WS_VISIBLE | WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW));
  // 613 x 80 and a 12-pixel font on an unscaled screen; at 150 % (144 DPI) 920 x 120 and 18.
  const int dpi = ScreenDpi();
  RECT r{};
  GetWindowRect(glMainWnd, &r);
  EXPECT_EQ(r.right - r.left, ScaleToDpi(613, dpi));
  EXPECT_EQ(r.bottom - r.top, ScaleToDpi(80, dpi));
  LOGFONTA font{};
  ASSERT_NE(GetObjectA(glMainFont, sizeof font, &font), 0);
  EXPECT_EQ(font.lfHeight, ScaleToDpi(-12, dpi));
  if (dpi == 144) {
    EXPECT_EQ(r.right - r.left, 920);
    EXPECT_EQ(font.lfHeight, -18);
  }

  ASSERT_NE(glHanniWnd, nullptr);
  EXPECT_FALSE(IsWindowVisible(glHanniWnd));
  GetWindowTextA(glHanniWnd, title, sizeof title);
  EXPECT_STREQ(title, "HanniWnd");
  GetClassNameA(glHanniWnd, cls, sizeof cls);
  EXPECT_STREQ(cls, "NORMAL1");
  EXPECT_EQ(GetWindowLongA(glHanniWnd, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_TOPMOST),
            WS_EX_CLIENTEDGE | WS_EX_TOPMOST);
  EXPECT_EQ(GetWindowLongA(glHanniWnd, GWL_STYLE) & WS_SYSMENU, 0);  // no close box
  // Created 662 x 558, then placed so that its client area lies exactly over the screen.
  POINT origin{0, 0};
  ClientToScreen(glHanniWnd, &origin);
  EXPECT_EQ(origin.x, 0);
  EXPECT_EQ(origin.y, 0);
  GetClientRect(glHanniWnd, &r);
  EXPECT_GE(r.right, glVirtualW);  // the whole screen, its bottom rows included
  EXPECT_GE(r.bottom, glVirtualH);
}

TEST_F(MainWindowTest, FourteenControlsAsTabled) {
  for (const TableControl& c : kTable) {
    SCOPED_TRACE(c.id);
    HWND control = Control(c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetParent(control), glMainWnd);
    char cls[64] = {};
    GetClassNameA(control, cls, sizeof cls);
    EXPECT_EQ(Lower(cls), c.cls);
    if (c.text != nullptr) {
      char text[512] = {};
      GetWindowTextA(control, text, sizeof text);
      EXPECT_STREQ(text, c.text);
    }
    const DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
    EXPECT_EQ(style & c.style, c.style);
    EXPECT_EQ(style & 0x0F & ~c.style, 0u) << "button or static kind";
    EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
  }
  ExpectControlsAt(ScreenDpi());
}

TEST_F(MainWindowTest, LayoutsFollowTheButtons) {
  const std::set<int> start = {1005, 1006, 1008, 1011, 1012, 1013};
  const std::set<int> range = {1000, 1003, 1004, 1007, 1010, 1012};
  const int dpi = ScreenDpi();
  // On a scaled screen a picture of each layout is kept, for a person to judge the texts.
  Artefacts shots("MainWindowLayouts");
  auto fits = [&](const std::string& layout) {
    ExpectVisibleControlsFit(dpi, layout);
    if (dpi == kBaseDpi) return;
    // Wine puts what a window drew on the screen a moment later: wait until every visible
    // control shows some of its dark text or frame there.
    RedrawWindow(glMainWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpUntil(
        [] {
          for (int id : VisibleControls()) {
            RECT c{};
            GetWindowRect(Control(id), &c);
            const std::vector<uint32_t> pixels = ScreenPixels(c.left, c.top, c.right - c.left, c.bottom - c.top);
            if (std::none_of(pixels.begin(), pixels.end(), [](uint32_t p) { return (p & 0xC0C0C0u) == 0; }))
              return false;
          }
          return true;
        },
        3000);
    RECT r{};
    GetWindowRect(glMainWnd, &r);
    shots.Shot(layout, &r);
  };
  EXPECT_EQ(VisibleControls(), start);
  fits("start");

  Click(kIdReadyButton);
  EXPECT_EQ(VisibleControls(), range);  // no stored range: no "前と同じ範囲で"
  Click(kIdCancelButton);
  EXPECT_EQ(VisibleControls(), start);

  glHanniLeft = 10;
  glHanniRight = 110;  // exactly 100 wide
  Click(kIdReadyButton);
  EXPECT_EQ(VisibleControls(), range);
  Click(kIdCancelButton);
  glHanniRight = 111;
  Click(kIdReadyButton);
  std::set<int> rangeWithSame = range;
  rangeWithSame.insert(1009);
  EXPECT_EQ(VisibleControls(), rangeWithSame);
  fits("range");

  ShowCaptureLayout();
  EXPECT_EQ(VisibleControls(), (std::set<int>{1001, 1002, 1010, 1012}));
  fits("capture");
  Click(kIdCancelButton);
  EXPECT_EQ(VisibleControls(), start);
}

namespace {
std::atomic<int> g_ticks{0};
void CALLBACK CountTick(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) { ++g_ticks; }
}  // namespace

TEST_F(MainWindowTest, CancelStopsTheTimerAndTheRedBand) {
  glCapturing = 1;
  ShowCaptureLayout();
  ASSERT_TRUE(ClientPixelBecomes(2, 20, RGB(255, 0, 0)));
  glTimerId = timeSetEvent(10, 0, CountTick, 0, TIME_PERIODIC);
  ASSERT_NE(glTimerId, 0u);
  ASSERT_TRUE(PumpUntil([] { return g_ticks.load() >= 3; }, 3000));
  Click(kIdCancelButton);
  EXPECT_EQ(glCapturing.load(), 0);
  const int after = g_ticks.load();
  PumpFor(100);
  EXPECT_LE(g_ticks.load(), after + 1);  // at most one tick already under way
  EXPECT_TRUE(IsWindowVisible(Control(kIdReadyButton)));
  // Cancel asks for the repaint itself: nothing else here makes the band cyan again.
  EXPECT_TRUE(PumpUntil([] { return ClientPixel(2, 20) == RGB(0, 255, 255); }, 3000));
}

TEST_F(MainWindowTest, ControlTextAndTheFormatBox) {
  SetWindowTextA(Control(kIdNameBox), "テスト表");
  EXPECT_EQ(ControlText(glMainWnd, kIdNameBox), "テスト表");
  SetWindowTextA(Control(kIdNameBox), "");
  EXPECT_EQ(ControlText(glMainWnd, kIdNameBox), "");
  EXPECT_EQ(ControlText(glMainWnd, 4242), "");

  // The format list in its order, as the user reads it; the half-width katakana are single
  // bytes.
  const char* const formats[] = {
      "jpg (写真向け、劣化、ﾌｧｲﾙｻｲｽﾞ小)", "png (イラスト向け、無劣化、ﾌｧｲﾙｻｲｽﾞ中)",
      "bmp (何かの作業向け、無劣化、ﾌｧｲﾙｻｲｽﾞ大)", "3種類全て作ってみる！ おためし！", "BMPをクリップボードに保存"};
  EXPECT_NE(std::string(formats[0]).find("\xCC\xA7\xB2\xD9\xBB\xB2\xBD\xDE"), std::string::npos);
  ASSERT_EQ(SendMessageA(Control(kIdFormatBox), CB_GETCOUNT, 0, 0), 5);
  for (int i = 0; i < 5; ++i) {
    char item[128] = {};
    ASSERT_LT(SendMessageA(Control(kIdFormatBox), CB_GETLBTEXTLEN, i, 0), LRESULT{sizeof item});
    SendMessageA(Control(kIdFormatBox), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, formats[i]) << i;
  }
  // First run: the JPEG item is shown and is the format text.
  EXPECT_STREQ(glFormatText, formats[0]);
  EXPECT_EQ(ControlText(glMainWnd, kIdFormatBox), formats[0]);
  EXPECT_EQ(SendMessageA(Control(kIdFormatBox), CB_GETCURSEL, 0, 0), CB_ERR);  // text only, no selection

  // Typing into the box updates the format text at once.
  HWND edit = FindWindowExA(Control(kIdFormatBox), nullptr, "Edit", nullptr);
  ASSERT_NE(edit, nullptr);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  SendMessageA(edit, WM_CHAR, 'p', 0);
  EXPECT_STREQ(glFormatText, "p");
  // Picking from the list alone does not.
  SendMessageA(Control(kIdFormatBox), CB_SETCURSEL, 2, 0);
  EXPECT_STREQ(glFormatText, "p");

  // Typed text longer than the buffer is cut to it.
  SetWindowTextA(edit, std::string(400, 'b').c_str());
  SendMessageA(edit, EM_SETSEL, 400, 400);
  SendMessageA(edit, WM_CHAR, 'x', 0);
  EXPECT_EQ(std::string(glFormatText), std::string(263, 'b'));
}

namespace {

struct SeenItem {
  WPARAM sender;
  ULONG_PTR kind;
  std::string bytes;
};
std::vector<SeenItem> g_request;

// Stands in for Kelvo: keeps every WM_COPYDATA and answers the start item as a cancelled
// dialog does, while it is still being sent.
LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcA(window, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  const char* bytes = static_cast<const char*>(data->lpData);
  g_request.push_back({wParam, data->dwData, bytes == nullptr ? std::string() : std::string(bytes, data->cbData)});
  if (data->dwData == 5) {
    COPYDATASTRUCT cancelled{1, 0, nullptr};
    SendMessageA(reinterpret_cast<HWND>(wParam), WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(&cancelled));
  }
  return TRUE;
}

}  // namespace

TEST_F(MainWindowTest, ConverterRepliesAreBounded) {
  // "終わる" on a JPEG capture asks the converter for a save location: exactly these six items.
  WNDCLASSA wc{};
  wc.lpfnWndProc = RecorderProc;
  wc.lpszClassName = "RequestRecorder";
  RegisterClassA(&wc);
  HWND recorder = CreateWindowExA(0, "RequestRecorder", KELVO_WINDOW_TITLE, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  HWND kelvo = glConverterWnd;
  const std::string folder = FileHozonFolderPath;
  glConverterWnd = recorder;
  lstrcpyA(FileHozonFolderPath, "C:\\a\\");
  glHanniWidth = 20;
  glHanniHeight = 10;
  ASSERT_EQ(CreateSurface(glBufDC, "TallSnap_glBufDC", 0, 26, 4006, 32), 1);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 26; ++x) *SurfacePixel(glBufDC, x, y) = 0x00808080;
  glScrollY = 10;
  SetWindowTextA(Control(kIdFormatBox), "jpg");
  SetWindowTextA(Control(kIdNameBox), "shot");
  SendMessageA(Control(kIdDesktopCheck), BM_SETCHECK, BST_UNCHECKED, 0);
  ShowCaptureLayout();
  g_request.clear();
  Click(kIdFinishButton);
  glConverterWnd = kelvo;
  lstrcpyA(FileHozonFolderPath, folder.c_str());
  DestroyWindow(recorder);

  const uint32_t handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(glMainWnd));
  static const char filter[] = "JPG(*.jpg)\0*.jpg\0すべてのファイル(*)\0*\0";
  static_assert(sizeof filter == 40, "JPG(*.jpg) makes a filter block of 40 bytes");
  const std::string title = "保存先(フォルダ)と名前を決めてください";
  const SeenItem expected[] = {
      {0, 1, std::string(filter, sizeof filter)},
      {0, 2, std::string("shot\0\0", 6)},
      {0, 3, std::string("C:\\a\0\0", 6)},  // the folder without its trailing backslash
      {0, 0, title + std::string(2, '\0')},
      {0, handle, std::string(reinterpret_cast<const char*>(&handle), 4)},
      {0, 5, std::string("1\0\0", 3)},
  };
  ASSERT_EQ(g_request.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(g_request[i].sender, reinterpret_cast<WPARAM>(glMainWnd));
    EXPECT_EQ(g_request[i].kind, expected[i].kind);
    EXPECT_EQ(g_request[i].bytes, expected[i].bytes);
  }
  EXPECT_EQ(glReplyLen, 0);  // the cancel, stored while the start item was being sent

  std::string payload = "C:\\out\\a.jpg";
  COPYDATASTRUCT data{1, static_cast<DWORD>(payload.size()), payload.data()};
  SendMessageA(glMainWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  EXPECT_EQ(glReplyLen, static_cast<int>(payload.size()));
  EXPECT_STREQ(glReplyBuf, "C:\\out\\a.jpg");

  std::string other = "ignored";
  COPYDATASTRUCT foreign{2, static_cast<DWORD>(other.size()), other.data()};
  SendMessageA(glMainWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&foreign));
  EXPECT_STREQ(glReplyBuf, "C:\\out\\a.jpg");

  const long before = CountInProgramImage(GetCurrentProcess(), GetCurrentProcessId(), 'z');
  ASSERT_GE(before, 0);
  std::string huge(25000, 'z');
  huge[kReplyBufBytes + 10] = 'q';
  COPYDATASTRUCT big{1, static_cast<DWORD>(huge.size()), huge.data()};
  SendMessageA(glMainWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&big));
  EXPECT_EQ(glReplyLen, static_cast<int>(kReplyBufBytes - 1));
  EXPECT_EQ(glReplyBuf[kReplyBufBytes - 1], '\0');
  EXPECT_EQ(std::strlen(glReplyBuf), kReplyBufBytes - 1);
  // Nothing was written past the buffer: the payload's bytes in the program's globals are the
  // stored ones alone.
  EXPECT_EQ(CountInProgramImage(GetCurrentProcess(), GetCurrentProcessId(), 'z') - before,
            static_cast<long>(kReplyBufBytes - 1));

  COPYDATASTRUCT empty{1, 0, nullptr};
  SendMessageA(glMainWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty));
  EXPECT_EQ(glReplyLen, 0);
  EXPECT_STREQ(glReplyBuf, "");
}

TEST_F(MainWindowTest, BandColourAndPreviewOnTheScreen) {
  const COLORREF cyan = RGB(0, 255, 255), red = RGB(255, 0, 0);
  EXPECT_TRUE(ClientPixelBecomes(2, 20, cyan));

  // A tall image whose newest 300 rows are blue, the rows above them green.
  glHanniWidth = 500;
  glHanniHeight = 300;
  ASSERT_EQ(CreateSurface(glBufDC, "TallSnap_glBufDC", 0, 506, 4006, 32), 1);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 506; ++x) *SurfacePixel(glBufDC, x, y) = y < 300 ? 0x0000FF00 : 0x000000FF;
  glScrollY = 600;
  glCapturing = 1;
  ShowRangeLayout();  // the way into capturing, which leaves the preview's place free
  ShowCaptureLayout();
  EXPECT_TRUE(ClientPixelBecomes(2, 20, red));
  // At 96 DPI the preview stands at x 500, 40 / 300 x 506 = 67 pixels wide (below "最新版？")
  // and 40 high; on a scaled screen its place and height scale, and its width follows.
  const int dpi = ScreenDpi();
  const int left = ScaleToDpi(500, dpi), high = ScaleToDpi(40, dpi);
  const int wide = static_cast<int>(static_cast<float>(high) / 300.0f * 506.0f);
  EXPECT_EQ(ClientPixel(left + 20, 20), RGB(0, 0, 255));
  EXPECT_EQ(ClientPixel(left + wide - 1, high - 10), RGB(0, 0, 255));
  EXPECT_EQ(ClientPixel(left + wide, high - 10), red);
  EXPECT_EQ(ClientPixel(left + 20, high - 1), RGB(0, 0, 255));
  EXPECT_EQ(ClientPixel(left + 20, high), red);
  // The band reaches 600 x 100 scaled; the class's cyan lies beyond it.
  EXPECT_EQ(ClientPixel(ScaleToDpi(600, dpi) - 1, 5), red);
  EXPECT_EQ(ClientPixel(ScaleToDpi(600, dpi), 5), cyan);

  glCapturing = 0;
  EXPECT_TRUE(ClientPixelBecomes(2, 20, cyan));
  EXPECT_EQ(ClientPixel(left + 20, 20), RGB(0, 0, 255));  // a cancelled image stays in view
  ReleaseSurface(glBufDC);
  glHanniHeight = 0;
  glScrollY = 0;
  EXPECT_TRUE(ClientPixelBecomes(left + 20, 20, cyan));
}

TEST_F(MainWindowTest, ADpiChangeRescalesTheWindowItsControlsAndItsFont) {
  // As Windows does when the window moves to a screen of another scale: 125 %, 200 %, then back.
  const int home = ScreenDpi();
  glHanniLeft = 10;
  glHanniRight = 200;  // the range layout with "前と同じ範囲で"
  for (int dpi : {120, 192, home}) {
    SCOPED_TRACE(dpi);
    RECT r{};
    GetWindowRect(glMainWnd, &r);
    RECT suggested{r.left + 7, r.top + 5, r.left + 7 + ScaleToDpi(613, dpi), r.top + 5 + ScaleToDpi(80, dpi)};
    const HFONT old = glMainFont;
    SendMessageA(glMainWnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(glMainWnd, &r);
    EXPECT_TRUE(EqualRect(&r, &suggested)) << r.left << "," << r.top << " - " << r.right << "," << r.bottom;
    LOGFONTA font{};
    ASSERT_NE(GetObjectA(glMainFont, sizeof font, &font), 0);
    EXPECT_EQ(font.lfHeight, ScaleToDpi(-12, dpi));
    EXPECT_EQ(GetObjectType(old), 0u) << "the font of the old scale is released";
    ExpectControlsAt(dpi);
    ShowStartLayout();
    ExpectVisibleControlsFit(dpi, "start");
    ShowRangeLayout();
    ExpectVisibleControlsFit(dpi, "range");
    ShowCaptureLayout();
    ExpectVisibleControlsFit(dpi, "capture");
  }
}
