// A window showing a tall picture that the mouse wheel scrolls a few pixels per notch; its
// title tells the scroll position ("scroll target N"). With Shift held, a notch jumps further
// than the window is high, as a flick of the scroll bar does.
// Usage: scroll_target X Y [WIDTH HEIGHT [PIXELS_PER_NOTCH [MODE]]]
// MODE "copy" scrolls as many programs do, by copying the window's own pixels on the screen and
// painting only the uncovered rows, so that anything drawn over the window travels with its
// content. MODE "late" copies too, and paints the uncovered rows only 20 to 80 ms later. MODE
// "footer" keeps a status bar over the window's bottom rows while the picture above it scrolls.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "scroll_content.h"

namespace {

int g_offset = 0;
int g_width = kTargetWidth, g_height = kTargetHeight;
int g_pixelsPerNotch = kPixelsPerNotch;
enum class Mode { Repaint, Copy, Late } g_mode = Mode::Repaint;
bool g_footer = false;
uint32_t g_draw = 20261207;
constexpr UINT_PTR kLatePaintTimer = 1;

void Paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  std::vector<uint32_t> pixels(static_cast<size_t>(g_width) * g_height);
  for (int y = 0; y < g_height; ++y)
    for (int x = 0; x < g_width; ++x)
      pixels[static_cast<size_t>(y) * g_width + x] = g_footer && y >= g_height - kFooterRows
                                                         ? FooterPixel(x, y - (g_height - kFooterRows))
                                                         : ContentPixel(x, g_offset + y);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = g_width;
  info.bmiHeader.biHeight = -g_height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, 0, 0, g_width, g_height, 0, 0, 0, g_height, pixels.data(), &info,
                    DIB_RGB_COLORS);
  EndPaint(window, &ps);
}

void ShowOffset(HWND window) {
  char title[64];
  std::snprintf(title, sizeof title, "scroll target %d", g_offset);
  SetWindowTextA(window, title);
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEWHEEL: {
      const int notches = -GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
      const bool jump = (GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT) != 0;
      const int before = g_offset;
      g_offset += notches * (jump ? g_height + 100 : g_pixelsPerNotch);
      if (g_offset < 0) g_offset = 0;
      if (g_offset > kContentRows - g_height) g_offset = kContentRows - g_height;
      if (g_mode == Mode::Repaint) {
        InvalidateRect(window, nullptr, FALSE);
      } else {
        ScrollWindowEx(window, 0, before - g_offset, nullptr, nullptr, nullptr, nullptr,
                       g_mode == Mode::Copy ? SW_INVALIDATE : 0);
        if (g_mode == Mode::Late) {
          g_draw = g_draw * 1103515245u + 12345u;
          SetTimer(window, kLatePaintTimer, 20 + (g_draw >> 16) % 61, nullptr);
          return 0;  // the title waits for the picture
        }
      }
      // The picture is drawn before the title tells the new position.
      UpdateWindow(window);
      GdiFlush();
      ShowOffset(window);
      return 0;
    }
    case WM_TIMER:
      KillTimer(window, kLatePaintTimer);
      InvalidateRect(window, nullptr, FALSE);
      UpdateWindow(window);
      GdiFlush();
      ShowOffset(window);
      return 0;
    case WM_PAINT: Paint(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int x = argc > 2 ? std::atoi(argv[1]) : 100;
  const int y = argc > 2 ? std::atoi(argv[2]) : 150;
  if (argc > 4) {
    g_width = std::atoi(argv[3]);
    g_height = std::atoi(argv[4]);
  }
  if (argc > 5) g_pixelsPerNotch = std::atoi(argv[5]);
  g_footer = argc > 6 && std::strcmp(argv[6], "footer") == 0;
  if (argc > 6) g_mode = std::strcmp(argv[6], "late") == 0 ? Mode::Late : std::strcmp(argv[6], "copy") == 0 ? Mode::Copy : Mode::Repaint;
  WNDCLASSA wc{};
  wc.lpfnWndProc = TargetProc;
  wc.lpszClassName = "ScrollTarget";
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, "ScrollTarget", "scroll target 0", WS_POPUP | WS_VISIBLE, x, y, g_width, g_height,
                                nullptr, nullptr, nullptr, nullptr);
  ShowOffset(window);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
