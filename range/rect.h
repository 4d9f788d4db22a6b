// Rectangle helpers of the range selection, and the layout of the dashed frame.
#ifndef TALLSNAP_RANGE_RECT_H
#define TALLSNAP_RANGE_RECT_H

#include <cstdint>
#include <vector>

// Swaps left and right when right < left, then top and bottom when bottom < top.
void OrderRect(int& left, int& top, int& right, int& bottom);
// 1 when left <= x <= right and top <= y <= bottom (edges included), else 0.
int PointInRect(int left, int top, int right, int bottom, int16_t x, int16_t y);

// The stored range for a drag in the range window: the window's client area lies over the whole
// virtual screen, whose top-left corner is (originX, originY) in screen coordinates (negative with
// a monitor left of or above the primary one). In screen coordinates, grown by border.
struct RangeRect {
  int left, top, right, bottom;  // grown by border
  int width, height;             // of the dragged rectangle itself
};
RangeRect RangeFromDrag(int startX, int startY, int endX, int endY, int originX, int originY, int border);

struct FrameBlock {
  int x, y, w, h;
  bool black;  // white otherwise
};
// The dashes of the frame round left, top, right, bottom, thickness t: 15-pixel dashes, black
// and white in turn after every pair; the top and left bands just outside the rectangle, the
// bottom and right bands just inside its bottom and right edges.
std::vector<FrameBlock> DashedFrameBlocks(int left, int top, int right, int bottom, int thickness);

struct FrameBand {
  int x, y, w, h;
};
// The four strips the dashes lie in, top, bottom, left and right: each just covers its dashes.
struct FrameBands {
  FrameBand band[4];
};
FrameBands DashedFrameBands(int left, int top, int right, int bottom, int thickness);

#endif
