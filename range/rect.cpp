#include "range/rect.h"

#include <utility>

void OrderRect(int& left, int& top, int& right, int& bottom) {
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
}

int PointInRect(int left, int top, int right, int bottom, int16_t x, int16_t y) {
  return left <= x && x <= right && top <= y && y <= bottom ? 1 : 0;
}

std::vector<FrameBlock> DashedFrameBlocks(int left, int top, int right, int bottom, int thickness) {
  constexpr int kDash = 15;
  OrderRect(left, top, right, bottom);
  const int t = thickness;
  std::vector<FrameBlock> blocks;
  bool white = false;  // the colour carries over from the first pass to the second
  for (int x = left - t; x <= right + t; x += kDash) {
    blocks.push_back({x, top - t, kDash, t, !white});
    blocks.push_back({x, bottom - t, kDash, t, !white});
    white = !white;
  }
  for (int y = top - t; y <= bottom + t; y += kDash) {
    blocks.push_back({left - t, y, t, kDash, !white});
    blocks.push_back({right - t, y, t, kDash, !white});
    white = !white;
  }
  return blocks;
}
