// The small topmost toolbar: its controls, four layouts, command dispatch and painting.
#ifndef TALLSNAP_APP_MAIN_WND_H
#define TALLSNAP_APP_MAIN_WND_H

#include <windows.h>

#include <string>

#define TALLSNAP_MAIN_TITLE "TallSnap （‘ v‘）/　縦長画像を一発ゲット！"

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void ShowStartLayout();
void ShowRangeLayout();
void ShowCaptureLayout();
// A finish could not write the image: it stays, and what the user may change is shown.
void ShowKeptLayout();

// The current text of child control id of window; empty when it has none or does not exist.
std::string ControlText(HWND window, int id);

// Asks for the whole main window to be painted again, without erasing.
void RepaintMainWnd();

// Posted by the capture's timer thread when the capture stops or starts following the screen:
// only this window's own thread touches its controls.
constexpr UINT kMsgFollowing = WM_APP + 1;
// The band and the instruction tell whether the capture follows the screen (glFollowing).
void ShowFollowing();

// The DPI of the screen the window is on (96 unscaled, 144 at 150 %); with no window, that of
// the main screen.
int WindowDpi(HWND window);

#endif
