// What the parts below app/ ask of the main window. They cannot call into app/, which sits above
// them: each request is a message of the window's own, sent to glMainWnd and answered by its
// procedure, so that it is done when the call returns, as a call would be.
#ifndef TALLSNAP_STATE_MAIN_WND_REQUESTS_H
#define TALLSNAP_STATE_MAIN_WND_REQUESTS_H

#include <windows.h>

#include "state/layout.h"

// Posted by the capture's timer thread when the capture stops or starts following the screen:
// only the window's own thread touches its controls. Sent by ShowFollowing.
constexpr UINT kMsgFollowing = WM_APP + 1;
// wParam: the Layout to show.
constexpr UINT kMsgShowLayout = WM_APP + 2;
// The range window's drag chose a range: the capture starts on it.
constexpr UINT kMsgRangeChosen = WM_APP + 3;
// The finish added glNameText to the history of names, which the name box lists too. It carries
// no pointer: any program may send a window any message.
constexpr UINT kMsgNameRemembered = WM_APP + 4;

void ShowStartLayout();
void ShowRangeLayout();
void ShowCaptureLayout();
// A finish could not write the image: it stays, and what the user may change is shown.
void ShowKeptLayout();
// The band and the instruction tell whether the capture follows the screen (glFollowing).
void ShowFollowing();
void TellRangeChosen();
void TellNameRemembered();

// Asks for the whole main window to be painted again, without erasing.
void RepaintMainWnd();

#endif
