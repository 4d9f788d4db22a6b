#include "range/frame_wnd.h"

#include "range/rect.h"
#include "state/state.h"

namespace {

constexpr char kFrameClass[] = "TallSnapFrame";
constexpr int kFrameThickness = 2;

// Click-through, never activated, never on the taskbar: the user works the target through it.
constexpr DWORD kFrameExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TRANSPARENT;

bool MakeFrameWindows() {
  if (glFrameWnd[0] != nullptr) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = FrameWndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kFrameClass;
  RegisterClassA(&wc);  // fails harmlessly when an earlier call registered it
  for (HWND& band : glFrameWnd) {
    band = CreateWindowExA(kFrameExStyle, kFrameClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                           wc.hInstance, nullptr);
    if (band == nullptr) {
      DestroyRangeFrame();
      return false;
    }
    SetLayeredWindowAttributes(band, 0, 255, LWA_ALPHA);  // opaque; layered only to let clicks through
  }
  return true;
}

// The dashes that fall in this strip, drawn as they would be on the screen.
void PaintFrameBand(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT at{};
  GetWindowRect(window, &at);
  for (const FrameBlock& b : DashedFrameBlocks(glHanniLeft, glHanniTop, glHanniRight, glHanniBottom, kFrameThickness))
    PatBlt(dc, b.x - at.left, b.y - at.top, b.w, b.h, b.black ? BLACKNESS : WHITENESS);
  EndPaint(window, &ps);
}

}  // namespace

LRESULT CALLBACK FrameWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: PaintFrameBand(window); return 0;
    case WM_ERASEBKGND: return 1;  // the dashes cover every pixel
    case WM_NCHITTEST: return HTTRANSPARENT;
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

void ShowRangeFrame() {
  if (!MakeFrameWindows()) return;  // the capture works without its frame
  const FrameBands bands = DashedFrameBands(glHanniLeft, glHanniTop, glHanniRight, glHanniBottom, kFrameThickness);
  for (int i = 0; i < 4; ++i) {
    const FrameBand& b = bands.band[i];
    SetWindowPos(glFrameWnd[i], HWND_TOPMOST, b.x, b.y, b.w, b.h, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(glFrameWnd[i], nullptr, FALSE);
  }
}

void HideRangeFrame() {
  for (HWND band : glFrameWnd)
    if (band != nullptr) ShowWindow(band, SW_HIDE);
}

void DestroyRangeFrame() {
  for (HWND& band : glFrameWnd) {
    if (band != nullptr) DestroyWindow(band);
    band = nullptr;
  }
}
