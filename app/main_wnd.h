// The small topmost toolbar: its controls, four layouts, command dispatch and painting.
#ifndef TALLSNAP_APP_MAIN_WND_H
#define TALLSNAP_APP_MAIN_WND_H

#include <windows.h>

#include <string>

#include "state/main_wnd_requests.h"

#define TALLSNAP_MAIN_TITLE "TallSnap （‘ v‘）/　縦長画像を一発ゲット！"

// Answers the requests of state/main_wnd_requests.h besides its own messages.
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The current text of child control id of window; empty when it has none or does not exist.
std::string ControlText(HWND window, int id);

// The DPI of the screen the window is on (96 unscaled, 144 at 150 %); with no window, that of
// the main screen.
int WindowDpi(HWND window);

#endif
