#include "range/hanni_wnd.h"

#include "app/state.h"

LRESULT CALLBACK HanniWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    glHanniWnd = window;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Range selection is not built yet: the button does nothing so far.
void BeginRangeSelect() {}
