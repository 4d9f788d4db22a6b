#include "capture/settle.h"

#include <algorithm>
#include <cstring>

bool AppendChangesImage(const PixelView& image, const PixelView& grab, int rangeWidth, int scrollY,
                        const StitchDecision& d) {
  if (d.newScrollY != scrollY) return true;
  const size_t rowBytes = sizeof(uint32_t) * static_cast<size_t>(rangeWidth);
  for (int y = d.keyRow; y < scrollY; ++y) {
    const int r = d.matchRow + (y - d.keyRow);
    if (r >= grab.height || std::memcmp(ViewRow(image, y), ViewRow(grab, r), rowBytes) != 0) return true;
  }
  return false;
}

GrabRows AppendedRows(const StitchDecision& d, int rangeHeight) {
  return GrabRows{d.matchRow, std::max(0, rangeHeight - kStitchBorder - d.matchRow)};
}

// The rows lie bottom-up in memory: the last one first, all of them together.
namespace {
const uint32_t* FirstInMemory(const PixelView& grab, GrabRows rows) { return ViewRow(grab, rows.first + rows.count - 1); }
size_t Pixels(int rangeWidth, GrabRows rows, const PixelView& grab) {
  return rows.count > 0 ? static_cast<size_t>(grab.width) * (rows.count - 1) + rangeWidth : 0;
}
}  // namespace

void SaveGrabRows(const PixelView& grab, int rangeWidth, GrabRows rows, std::vector<uint32_t>& saved) {
  const uint32_t* from = rows.count > 0 ? FirstInMemory(grab, rows) : nullptr;
  saved.assign(from, from + Pixels(rangeWidth, rows, grab));
}

bool GrabRowsEqual(const PixelView& grab, int rangeWidth, GrabRows rows, const std::vector<uint32_t>& saved) {
  if (saved.size() != Pixels(rangeWidth, rows, grab)) return false;
  for (int k = 0; k < rows.count; ++k) {
    const size_t at = static_cast<size_t>(grab.width) * k;
    if (std::memcmp(FirstInMemory(grab, rows) + at, saved.data() + at, sizeof(uint32_t) * rangeWidth) != 0)
      return false;
  }
  return true;
}

void RestoreGrabRows(const PixelView& grab, int rangeWidth, GrabRows rows, const std::vector<uint32_t>& saved) {
  if (saved.size() != Pixels(rangeWidth, rows, grab)) return;
  uint32_t* to = ViewRow(grab, rows.first + rows.count - 1);
  for (int k = 0; k < rows.count; ++k) {
    const size_t at = static_cast<size_t>(grab.width) * k;
    std::memcpy(to + at, saved.data() + at, sizeof(uint32_t) * rangeWidth);
  }
}
