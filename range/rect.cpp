#include "range/rect.h"

#include <algorithm>
#include <utility>

void OrderRect(int& left, int& top, int& right, int& bottom) {
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
}

int PointInRect(int left, int top, int right, int bottom, int16_t x, int16_t y) {
  return left <= x && x <= right && top <= y && y <= bottom ? 1 : 0;
}

RangeRect RangeFromDrag(int startX, int startY, int endX, int endY, int originX, int originY, int border) {
  OrderRect(startX, startY, endX, endY);
  RangeRect r{startX + originX - border, startY + originY - border, endX + originX + border,
              endY + originY + border, 0, 0};
  r.width = r.right - r.left - 2 * border;
  r.height = r.bottom - r.top - 2 * border;
  return r;
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

FrameBands DashedFrameBands(int left, int top, int right, int bottom, int thickness) {
  OrderRect(left, top, right, bottom);
  FrameBands bands{};
  bool seen[4] = {false, false, false, false};
  for (const FrameBlock& b : DashedFrameBlocks(left, top, right, bottom, thickness)) {
    const bool horizontal = b.h == thickness && (b.y == top - thickness || b.y == bottom - thickness) &&
                            b.w != thickness;
    const int i = horizontal ? (b.y == top - thickness ? 0 : 1) : (b.x == left - thickness ? 2 : 3);
    FrameBand& f = bands.band[i];
    if (!seen[i]) {
      f = FrameBand{b.x, b.y, b.w, b.h};
      seen[i] = true;
      continue;
    }
    const int x1 = std::max(f.x + f.w, b.x + b.w), y1 = std::max(f.y + f.h, b.y + b.h);
    f.x = std::min(f.x, b.x);
    f.y = std::min(f.y, b.y);
    f.w = x1 - f.x;
    f.h = y1 - f.y;
  }
  return bands;
}
