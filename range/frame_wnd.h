// The dashed frame round the range while a capture runs, shown in four small topmost windows
// of our own that lie over the frame's strips. Nothing is drawn into the target's pixels: a
// program that scrolls by copying its window would otherwise carry the frame into the range.
#ifndef TALLSNAP_RANGE_FRAME_WND_H
#define TALLSNAP_RANGE_FRAME_WND_H

#include <windows.h>

LRESULT CALLBACK FrameWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Shows the frame round glHanniLeft, glHanniTop, glHanniRight, glHanniBottom; the windows are
// made at the first call. User-interface thread only.
void ShowRangeFrame();
void HideRangeFrame();
void DestroyRangeFrame();

#endif
