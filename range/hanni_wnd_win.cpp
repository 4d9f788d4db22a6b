#include "range/hanni_wnd.h"

#include <algorithm>

#include "app/main_wnd.h"
#include "app/state.h"
#include "capture/session.h"
#include "range/rect.h"
#include "settings/trace.h"

namespace {

// The frozen picture is shown, and the frame erased, over this many pixels from the origin.
constexpr int kFrozenSpan = 2000;
constexpr int kMinRangeSide = 100;

// Puts the client area exactly over the virtual screen, the caption and frame off it. Client
// coordinates are then screen coordinates less the virtual screen's corner.
void PlaceOverScreen(HWND window) {
  RECT client{}, frame{};
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  const int frameX = ((frame.right - frame.left) - (client.right - client.left)) / 2;
  const int frameY = (frame.bottom - frame.top) - (client.bottom - client.top) - frameX;
  SetWindowPos(window, nullptr, glVirtualX - frameX, glVirtualY - frameY, glVirtualW + 2 * frameX, glVirtualH + 2 * frameY, SWP_NOZORDER);
}

// The window is larger than the screen by its frame; without this the system would clamp it to
// its largest tracking size and the bottom rows of the screen would stay uncovered.
void AllowCoveringTheScreen(MINMAXINFO* info) {
  info->ptMaxTrackSize.x = std::max<LONG>(info->ptMaxTrackSize.x, glVirtualW + 200);
  info->ptMaxTrackSize.y = std::max<LONG>(info->ptMaxTrackSize.y, glVirtualH + 200);
}

void PaintFrozenScreen(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  BitBlt(dc, 0, 0, kFrozenSpan, kFrozenSpan, glHanniMemDC.memDC, 0, 0, SRCCOPY);
  EndPaint(window, &ps);
}

// An arrow where the (hidden) main window lies, a cross over the rest of the picture.
void ApplyCursorRule(int16_t x, int16_t y) {
  RECT main{};
  GetWindowRect(glMainWnd, &main);
  OffsetRect(&main, -glVirtualX, -glVirtualY);
  HCURSOR wanted = PointInRect(main.left, main.top, main.right, main.bottom, x, y) ? glArrowCursor : glCrossCursor;
  if (GetCursor() == wanted) return;
  SetClassLongPtrA(glHanniWnd, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(wanted));
  SetCursor(wanted);
}

void StartDrag(int x, int y) {
  if (glDragging != 0) return;
  glDragging = 1;
  BitBlt(glHanniMemBeforeDC.memDC, 0, 0, kFrozenSpan, kFrozenSpan, glHanniMemDC.memDC, 0, 0, SRCCOPY);
  glDragStartX = x;
  glDragStartY = y;
}

void UpdateDrag(int x, int y) {
  if (glDragging != 1) return;
  BitBlt(glHanniMemDC.memDC, 0, 0, kFrozenSpan, kFrozenSpan, glHanniMemBeforeDC.memDC, 0, 0, SRCCOPY);
  glDragEndX = x;
  glDragEndY = y;
  DrawDashedFrame(glHanniMemDC.memDC, glDragStartX, glDragStartY, x, y, 2);
  InvalidateRect(glHanniWnd, nullptr, FALSE);
}

void EndDrag(int x, int y) {
  if (glDragging != 1) return;
  glDragEndX = x;
  glDragEndY = y;
  OrderRect(glDragStartX, glDragStartY, glDragEndX, glDragEndY);
  const RangeRect range =
      RangeFromDrag(glDragStartX, glDragStartY, glDragEndX, glDragEndY, glVirtualX, glVirtualY, glBorder);
  TraceNumbers("glHanniLeft", range.left + glBorder, 0, 0, 0, 0);
  TraceNumbers("glHanniTop", range.top + glBorder, 0, 0, 0, 0);
  TraceNumbers("glHanniRight", range.right - glBorder, 0, 0, 0, 0);
  TraceNumbers("glHanniBottom", range.bottom - glBorder, 0, 0, 0, 0);
  glHanniLeft = range.left;
  glHanniTop = range.top;
  glHanniRight = range.right;
  glHanniBottom = range.bottom;
  ShowWindow(glHanniWnd, SW_HIDE);
  glHanniWidth = range.width;
  glHanniHeight = range.height;
  glDragging = 0;
  if (glHanniWidth < kMinRangeSide || glHanniHeight < kMinRangeSide) {
    ShowRangeLayout();  // the too-small rectangle stays stored
    return;
  }
  Sleep(300);  // lets the range window vanish from the screen before the first grab
  StartCapture();
}

// Alt+F4 gives up the choice; the window stays for the next one.
void CloseRangeSelect() {
  ShowWindow(glHanniWnd, SW_HIDE);
  glDragging = 0;
  ShowRangeLayout();
}

int16_t LowX(LPARAM lParam) { return static_cast<int16_t>(LOWORD(lParam)); }
int16_t HighY(LPARAM lParam) { return static_cast<int16_t>(HIWORD(lParam)); }

}  // namespace

LRESULT CALLBACK HanniWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      glHanniWnd = window;
      PlaceOverScreen(window);
      return 0;
    case WM_PAINT: PaintFrozenScreen(window); return 0;
    case WM_SIZE: InvalidateRect(window, nullptr, FALSE); return 0;
    case WM_GETMINMAXINFO: AllowCoveringTheScreen(reinterpret_cast<MINMAXINFO*>(lParam)); return 0;
    case WM_MOUSEMOVE:
      ApplyCursorRule(LowX(lParam), HighY(lParam));
      UpdateDrag(LowX(lParam), HighY(lParam));
      return 0;
    case WM_LBUTTONDOWN: StartDrag(LowX(lParam), HighY(lParam)); return 0;
    case WM_LBUTTONUP: EndDrag(LowX(lParam), HighY(lParam)); return 0;
    case WM_CLOSE: CloseRangeSelect(); return 0;
    case WM_TIMER:
    case WM_DESTROY: return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

void BeginRangeSelect() {
  Sleep(300);  // lets the click's own redrawing settle before the screen is frozen
  // Only the screen itself is copied: the surfaces are 200 pixels larger, and a source
  // reaching past the screen makes some display drivers copy nothing at all.
  BitBlt(glHanniMemDC.memDC, 0, 0, glVirtualW, glVirtualH, glDisplayDC, glVirtualX, glVirtualY, SRCCOPY);
  BitBlt(glHanniMemBeforeDC.memDC, 0, 0, glVirtualW, glVirtualH, glDisplayDC, glVirtualX, glVirtualY, SRCCOPY);
  ShowWindow(glHanniWnd, SW_SHOWNORMAL);
  ShowCaptureLayout();
}

void DrawDashedFrame(HDC dc, int left, int top, int right, int bottom, int thickness) {
  for (const FrameBlock& b : DashedFrameBlocks(left, top, right, bottom, thickness))
    PatBlt(dc, b.x, b.y, b.w, b.h, b.black ? BLACKNESS : WHITENESS);
}
