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

Settle JudgeSettle(const PixelView& grab, int rangeWidth, int rangeHeight, GrabRows rows,
                   const std::vector<uint32_t>& saved) {
  if (saved.size() != Pixels(rangeWidth, rows, grab)) return Settle::Changing;
  int firstRow = -1, lastRow = -1, firstColumn = rangeWidth, lastColumn = -1;
  const uint32_t* now = FirstInMemory(grab, rows);
  for (int k = 0; k < rows.count; ++k) {  // k counts up from the last row
    const size_t at = static_cast<size_t>(grab.width) * k;
    if (std::memcmp(now + at, saved.data() + at, sizeof(uint32_t) * rangeWidth) == 0) continue;
    int x = 0, z = rangeWidth - 1;
    while (now[at + x] == saved[at + x]) ++x;
    while (now[at + z] == saved[at + z]) --z;
    if (lastRow < 0) lastRow = k;
    firstRow = k;
    firstColumn = std::min(firstColumn, x);
    lastColumn = std::max(lastColumn, z);
  }
  if (lastRow < 0) return Settle::Still;
  return firstRow - lastRow + 1 <= rangeHeight / 3 && lastColumn - firstColumn + 1 <= rangeWidth / 2 ? Settle::Animating
                                                                                                   : Settle::Changing;
}

bool AppendNow(int& changingInARow, Settle settle, int growth, int rangeHeight) {
  if (settle != Settle::Changing || growth >= rangeHeight / 3 || ++changingInARow > kUnsettledTicksAllowed) {
    changingInARow = 0;
    return true;
  }
  return false;
}
