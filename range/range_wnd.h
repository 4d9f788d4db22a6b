// The range window: a frozen picture of the screen over which the user drags the range.
#ifndef TALLSNAP_RANGE_RANGE_WND_H
#define TALLSNAP_RANGE_RANGE_WND_H

#include <windows.h>

LRESULT CALLBACK HanniWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The two surfaces of the frozen screen, made anew for the virtual screen's size; false when
// they could not be made (the user has been told; neither is left).
bool MakeFrozenScreenSurfaces();
// "範囲指定する": freezes the screen and shows the range window over it.
void BeginRangeSelect();
// The black-and-white dashed frame round a rectangle, drawn with the DC's own fills.
void DrawDashedFrame(HDC dc, int left, int top, int right, int bottom, int thickness);

#endif
