// The range window: a frozen picture of the screen over which the user drags the range.
#ifndef TALLSNAP_RANGE_HANNI_WND_H
#define TALLSNAP_RANGE_HANNI_WND_H

#include <windows.h>

LRESULT CALLBACK HanniWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void BeginRangeSelect();

#endif
