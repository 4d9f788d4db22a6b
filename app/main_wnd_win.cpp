#include "app/main_wnd.h"

#include <vector>

#include "app/creation.h"
#include "app/main_wnd_core.h"
#include "app/shutdown.h"
#include "app/start_up.h"
#include "capture/session.h"
#include "output/converter_link.h"
#include "output/finish.h"
#include "range/range_wnd.h"
#include "shared/converter_protocol.h"
#include "shared/text.h"
#include "state/state.h"

namespace {

// The layout on screen: the kept one moves controls, and a kept image must not be closed away.
Layout glLayout = Layout::Start;

struct ControlDef {
  int id;
  const char* className;
  const char* text;
  DWORD style;
  ControlRect place;  // at 96 DPI
};

const ControlDef kControls[kControlCount] = {
    {kIdRangeButton, "BUTTON", "範囲指定する", WS_CHILD | WS_VISIBLE | BS_MULTILINE, {322, 22, 93, 20}},
    {kIdFinishButton, "BUTTON", "終わる", WS_CHILD, {389, 22, 110, 18}},
    {kIdCaptureNote, "STATIC", kCaptureNoteText, WS_CHILD, {5, 6, 378, 38}},
    {kIdFormatBox, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWN, {66, 0, 283, 555}},
    {kIdFormatLabel, "STATIC", "★保存形式", WS_CHILD | WS_VISIBLE, {5, 6, 61, 11}},
    {kIdNameLabel, "STATIC", "★名前 (同じ名前を避けるために自動で数字がつく)", WS_CHILD | WS_VISIBLE, {5, 6, 264, 12}},
    {kIdTopNote, "STATIC", "★ゲットしたい画像の上端が見える状態にしてください。", WS_CHILD | WS_VISIBLE,
     {5, 25, 283, 12}},
    {kIdRangeNote, "STATIC", "★ココを押してから画像の見えている範囲を斜めにドラッグ　→", WS_CHILD | WS_VISIBLE,
     {6, 23, 319, 12}},
    {kIdReadyButton, "BUTTON", "見えるようにしたら押してください。", WS_CHILD | WS_VISIBLE, {286, 23, 184, 20}},
    {kIdSameRangeButton, "BUTTON", "前と同じ範囲で", WS_CHILD | WS_VISIBLE, {446, 22, 84, 22}},
    {kIdCancelButton, "BUTTON", "キャンセル", WS_CHILD | WS_VISIBLE, {437, 2, 60, 17}},
    {kIdNameBox, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT, {269, 0, 263, 666}},
    {kIdLatestButton, "BUTTON", "最新版？", WS_CHILD | WS_VISIBLE, {541, 0, 56, 23}},
    {kIdDesktopCheck, "BUTTON", "デスクトップに保存", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, {473, 25, 122, 14}},
};

void CreateMainControls(HWND window) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  for (const ControlDef& c : kControls) {
    const ControlRect r = ScaleRectToDpi(c.place, glMainDpi);
    HWND control = CreateWindowExA(0, c.className, c.text, c.style, r.x, r.y, r.w, r.h, window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(glMainFont), FALSE);
  }
}

// The control where the layout puts it, at this DPI.
void PlaceControl(const ControlDef& c, Layout layout, int dpi) {
  const ControlRect r = ScaleRectToDpi(PlaceInLayout(layout, c.id, c.place), dpi);
  SetWindowPos(GetDlgItem(glMainWnd, c.id), nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Gives every control a main font made for this DPI and its place at this DPI; the old font is
// released once no control holds it.
void ScaleMainControlsTo(int dpi) {
  HFONT old = glMainFont;
  glMainFont = CreateProgramFont(dpi);
  glMainDpi = dpi;
  for (const ControlDef& c : kControls) {
    HWND control = GetDlgItem(glMainWnd, c.id);
    if (control == nullptr) continue;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(glMainFont), TRUE);
    PlaceControl(c, glLayout, dpi);
  }
  DeleteObject(old);
}

// The window moved to a screen of another scale (or that screen's scale changed): Windows
// suggests where the window goes and how large it is; the controls, font and band follow.
void OnMainDpiChanged(int dpi, const RECT* suggested) {
  if (dpi <= 0 || suggested == nullptr) return;
  SetWindowPos(glMainWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  ScaleMainControlsTo(dpi);
  RepaintMainWnd();
}

void ApplyLayout(Layout layout) {
  // Moved controls go back to their places before anything is shown there again.
  if (layout != glLayout && (layout == Layout::Kept || glLayout == Layout::Kept))
    for (const ControlDef& c : kControls) PlaceControl(c, layout, glMainDpi);
  glLayout = layout;
  for (const LayoutStep& step : LayoutSteps(layout, glHanniLeft, glHanniRight))
    ShowWindow(GetDlgItem(glMainWnd, step.id), step.show ? SW_SHOWNORMAL : SW_HIDE);
}

void OnMainWndCreate(HWND window) {
  glMainWnd = window;
  // Made for the main screen's scale, the window may have opened on a screen of another.
  const int dpi = WindowDpi(window);
  if (dpi != glMainDpi) {
    ScaleMainControlsTo(dpi);
    SetWindowPos(window, nullptr, 0, 0, ScaleToDpi(kMainWndWidth, dpi), ScaleToDpi(kMainWndHeight, dpi),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CreateMainControls(window);
  PrepareMainWindow();
}

void StoreConverterReply(const COPYDATASTRUCT* data) {
  if (data == nullptr || data->dwData != kReplyItem) return;
  glReplyLen = static_cast<int>(StoreReplyBytes(glReplyBuf, kReplyBufBytes, data->lpData, data->cbData));
  glReplyArrived = 1;
}

// An image a finish could not write, or whose save dialog was cancelled, is still the user's:
// closing or "キャンセル" would lose it, so they are asked first, and "いいえ" (the default)
// keeps it.
bool KeptImageMayGo() {
  return glLayout != Layout::Kept ||
         MessageBoxA(glMainWnd,
                     "（;‘ o‘）/まだ保存していない画像がTallSnapにあります。\r\n保存しないで終わりますか？\r\n\r\n"
                     "「はい」: 画像を捨てて終わる\r\n「いいえ」: 終わらないで、画像を残す",
                     "<(_ _)>", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TOPMOST) == IDYES;
}

void OnCancelButton() {
  if (KeptImageMayGo()) CancelCapture();
}

// "終わる": with what the controls show now.
void OnFinishButton() {
  FinishChoices choices;
  choices.formatText = ControlText(glMainWnd, kIdFormatBox);
  choices.name = ControlText(glMainWnd, kIdNameBox);
  choices.desktop = SendMessageA(GetDlgItem(glMainWnd, kIdDesktopCheck), BM_GETCHECK, 0, 0) != 0;
  FinishCapture(choices);
}

void OnMainCommand(int id, int code) {
  if (id == kIdFormatBox && code == CBN_EDITCHANGE) {
    SetText(glFormatText, ControlText(glMainWnd, kIdFormatBox));
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case kIdRangeButton: BeginRangeSelect(); break;
    case kIdFinishButton: OnFinishButton(); break;
    case kIdReadyButton: ShowRangeLayout(); break;
    case kIdSameRangeButton: StartCapture(); break;
    case kIdCancelButton: OnCancelButton(); break;
    case kIdLatestButton: OpenLatestVersionPage(); break;
    default: break;
  }
}

// The band is filled through a clip region so that it stays within 600 x 100 (at 96 DPI).
void FillBand(HDC dc, COLORREF colour) {
  HRGN region = CreateRectRgn(0, 0, ScaleToDpi(kBandWidth, glMainDpi), ScaleToDpi(kBandHeight, glMainDpi));
  SelectClipRgn(dc, region);
  HBRUSH brush = CreateSolidBrush(colour);
  HGDIOBJ previous = SelectObject(dc, brush);
  PaintRgn(dc, region);
  SelectClipRgn(dc, nullptr);
  DeleteObject(region);
  SelectObject(dc, previous);
  DeleteObject(brush);
}

// The newest band of the tall image, as tall as the range, shrunk to 40 pixels high (at 96 DPI).
void DrawPreview(HDC dc) {
  const int h = glHanniHeight;
  if (glBufDC.memDC == nullptr || h <= 0) return;
  const int w = glBufDC.width;
  const float scale = static_cast<float>(ScaleToDpi(kPreviewHeight, glMainDpi)) / static_cast<float>(h);
  // Rows above the image's top or below the surface are never asked for.
  int top = glScrollY.load() - h;
  if (top > glBufDC.height - h) top = glBufDC.height - h;
  if (top < 0) top = 0;
  StretchBlt(dc, ScaleToDpi(kPreviewX, glMainDpi), 0, static_cast<int>(scale * static_cast<float>(w)),
             static_cast<int>(scale * static_cast<float>(h)), glBufDC.memDC, 0, top, w, h, SRCCOPY);
}

void PaintMainWnd(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  SetStretchBltMode(dc, COLORONCOLOR);
  FillBand(dc, glCapturing.load() != 1 ? kIdleBand : glFollowing.load() != 0 ? kCapturingBand : kLostBand);
  DrawPreview(dc);
  EndPaint(window, &ps);
}

void CloseMainWnd() {
  if (KeptImageMayGo()) DestroyWindow(glMainWnd);
}

void AddRememberedName() {
  SendMessageA(GetDlgItem(glMainWnd, kIdNameBox), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(glNameText));
}

void UpdateFollowing() {
  const char* note = glCapturing.load() != 1 || glFollowing.load() != 0 ? kCaptureNoteText : kLostNoteText;
  if (ControlText(glMainWnd, kIdCaptureNote) != note) SetDlgItemTextA(glMainWnd, kIdCaptureNote, note);
  RepaintMainWnd();
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) StoreConverterReply(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
  switch (message) {
    case WM_CREATE: OnMainWndCreate(window); return 0;
    case WM_COMMAND: OnMainCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_TIMER: ConnectConverter(); return 0;
    case WM_PAINT: PaintMainWnd(window); return 0;
    case kMsgFollowing: UpdateFollowing(); return 0;
    case kMsgShowLayout: ApplyLayout(static_cast<Layout>(wParam)); return 0;
    case kMsgRangeChosen: StartCapture(); return 0;
    case kMsgNameRemembered: AddRememberedName(); return 0;
    case WM_DPICHANGED: OnMainDpiChanged(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam)); return 0;
    case WM_CLOSE: CloseMainWnd(); return 0;
    case WM_DESTROY: Shutdown(); return 0;
    case WM_SIZE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

std::string ControlText(HWND window, int id) {
  HWND control = GetDlgItem(window, id);
  if (control == nullptr) return std::string();
  const int n = GetWindowTextLengthA(control);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n) + 1, '\0');
  const UINT got = GetDlgItemTextA(window, id, buf.data(), n + 1);
  return std::string(buf.data(), got);
}

int WindowDpi(HWND window) {
  // Only Windows 10 (1607) and later know a window's own DPI; before, one DPI holds for all.
  using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
  static const GetDpiForWindowProc getDpiForWindow = reinterpret_cast<GetDpiForWindowProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (window != nullptr && getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}
