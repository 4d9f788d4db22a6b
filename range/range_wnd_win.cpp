#include "range/range_wnd.h"

#include <algorithm>

#include "range/rect.h"
#include "settings/trace.h"
#include "state/main_wnd_requests.h"
#include "state/state.h"
#include "state/surface.h"

namespace {

constexpr int kDragFrameThickness = 2;
// The frozen-screen surfaces are this much larger than the virtual screen each way.
constexpr int kFrozenMargin = 200;
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
  info->ptMaxTrackSize.x = std::max<LONG>(info->ptMaxTrackSize.x, glVirtualW + kFrozenMargin);
  info->ptMaxTrackSize.y = std::max<LONG>(info->ptMaxTrackSize.y, glVirtualH + kFrozenMargin);
}

// The desktop as it is now (a monitor plugged in or out, another resolution or scaling): the
// range window and its surfaces follow it before the screen is frozen. A capture in progress
// grabs by screen coordinates and goes on. False when the surfaces could not be made (the user
// has been told).
bool FollowDesktop() {
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const bool surfaces = glHanniMemDC.memDC != nullptr && glHanniMemBeforeDC.memDC != nullptr &&
                        glHanniMemDC.width == w + kFrozenMargin && glHanniMemDC.height == h + kFrozenMargin;
  if (x == glVirtualX && y == glVirtualY && w == glVirtualW && h == glVirtualH && surfaces) return true;
  glVirtualX = x;
  glVirtualY = y;
  glVirtualW = w;
  glVirtualH = h;
  if (!surfaces && !MakeFrozenScreenSurfaces()) return false;
  PlaceOverScreen(glHanniWnd);
  return true;
}

// Only what the system asks for: on a 4K desktop the whole picture is 33 MB. Once the choice
// is over there is no picture, and the window is hidden.
void PaintFrozenScreen(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  const RECT& r = ps.rcPaint;
  if (glHanniMemDC.memDC != nullptr)
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, glHanniMemDC.memDC, r.left, r.top, SRCCOPY);
  EndPaint(window, &ps);
}

// The frozen screen is needed only while the user chooses. Three 2560 x 2160 monitors make it
// about 150 MB, which a 32-bit process would otherwise hold through the whole capture beside
// the tall image; the next "範囲指定する" makes it again.
void ReleaseFrozenScreen() {
  ReleaseSurface(glHanniMemDC);
  ReleaseSurface(glHanniMemBeforeDC);
}

// The strips the drag frame's dashes lie in, inside the picture, each repainted once it changed.
template <class Each>
void ForEachFrameBand(int left, int top, int right, int bottom, Each each) {
  const RECT picture{0, 0, glVirtualW, glVirtualH};
  for (const FrameBand& b : DashedFrameBands(left, top, right, bottom, kDragFrameThickness).band) {
    RECT r{b.x, b.y, b.x + b.w, b.y + b.h};
    if (IntersectRect(&r, &r, &picture)) each(r);
  }
}

// Puts back what was frozen where the frame lay; then the new frame.
void MoveDragFrame(int x, int y) {
  ForEachFrameBand(glDragStartX, glDragStartY, glDragEndX, glDragEndY, [](const RECT& r) {
    BitBlt(glHanniMemDC.memDC, r.left, r.top, r.right - r.left, r.bottom - r.top, glHanniMemBeforeDC.memDC, r.left,
           r.top, SRCCOPY);
    InvalidateRect(glHanniWnd, &r, FALSE);
  });
  glDragEndX = x;
  glDragEndY = y;
  DrawDashedFrame(glHanniMemDC.memDC, glDragStartX, glDragStartY, x, y, kDragFrameThickness);
  ForEachFrameBand(glDragStartX, glDragStartY, x, y, [](const RECT& r) { InvalidateRect(glHanniWnd, &r, FALSE); });
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

// The frozen picture without any frame stays in glHanniMemBeforeDC from the freeze on.
void StartDrag(int x, int y) {
  if (glDragging != 0) return;
  glDragging = 1;
  glDragStartX = glDragEndX = x;
  glDragStartY = glDragEndY = y;
}

void UpdateDrag(int x, int y) {
  if (glDragging != 1) return;
  MoveDragFrame(x, y);
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
  ReleaseFrozenScreen();
  glHanniWidth = range.width;
  glHanniHeight = range.height;
  glDragging = 0;
  if (glHanniWidth < kMinRangeSide || glHanniHeight < kMinRangeSide) {
    ShowRangeLayout();  // the too-small rectangle stays stored
    return;
  }
  Sleep(300);  // lets the range window vanish from the screen before the first grab
  TellRangeChosen();
}

// Alt+F4 gives up the choice; the window stays for the next one.
void CloseRangeSelect() {
  ShowWindow(glHanniWnd, SW_HIDE);
  ReleaseFrozenScreen();
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

bool MakeFrozenScreenSurfaces() {
  ReleaseFrozenScreen();
  const int width = glVirtualW + kFrozenMargin, height = glVirtualH + kFrozenMargin;
  if (CreateSurface(glHanniMemDC, "TallSnap_glHanniMemDC", 0, width, height, 32) &&
      CreateSurface(glHanniMemBeforeDC, "TallSnap_glHanniMemBeforeDC", 0, width, height, 32))
    return true;
  ReleaseFrozenScreen();
  return false;
}

void BeginRangeSelect() {
  Sleep(300);  // lets the click's own redrawing settle before the screen is frozen
  if (!FollowDesktop()) {
    ShowRangeLayout();
    return;
  }
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
