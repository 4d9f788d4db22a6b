#include "capture/settle.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

void NoteRowsHeldStill(const PixelView& grab, GrabRows rows, const std::vector<uint32_t>& saved, int firstColumn,
                       int endColumn, std::vector<uint8_t>& still) {
  if (rows.count <= 0 || saved.size() < static_cast<size_t>(grab.width) * (rows.count - 1) + endColumn) return;
  const size_t needed = static_cast<size_t>(rows.first + rows.count);
  if (still.size() < needed) still.resize(needed, 0);
  for (int k = 0; k < rows.count; ++k) {
    const int r = rows.first + rows.count - 1 - k;  // in memory order
    const size_t at = static_cast<size_t>(grab.width) * k + firstColumn;
    still[static_cast<size_t>(r)] =
        std::memcmp(FirstInMemory(grab, rows) + at, saved.data() + at, sizeof(uint32_t) * (endColumn - firstColumn)) == 0;
  }
}

namespace {

// Rows of the block as first seen and as seen again, top down.
struct Looks {
  const uint32_t* again;  // the block's last row in memory from its first column looked at, rows stride apart going up
  const uint32_t* first;
  int count, width, stride;
  const uint32_t* Again(int t) const { return again + static_cast<size_t>(stride) * (count - 1 - t); }
  const uint32_t* First(int t) const { return first + static_cast<size_t>(stride) * (count - 1 - t); }
};

// Where rows again[t] and first[t + shift] differ, for the t both have: the rows and columns the
// differences span; false when there are none.
struct Spread {
  int top = -1, bottom = -1, left = 0, right = -1;
  bool Fits(int rangeWidth, int rangeHeight) const {
    return top < 0 || (bottom - top + 1 <= rangeHeight / 3 && right - left + 1 <= rangeWidth / 2);
  }
};
Spread Differences(const Looks& looks, int shift) {
  Spread s;
  s.left = looks.width;
  for (int t = 0; t + shift < looks.count; ++t) {
    const uint32_t *a = looks.Again(t), *b = looks.First(t + shift);
    if (std::memcmp(a, b, sizeof(uint32_t) * looks.width) == 0) continue;
    int x = 0, z = looks.width - 1;
    while (a[x] == b[x]) ++x;
    while (a[z] == b[z]) --z;
    if (s.top < 0) s.top = t;
    s.bottom = t;
    s.left = std::min(s.left, x);
    s.right = std::max(s.right, z);
  }
  return s;
}

uint64_t RowHash(const uint32_t* row, int width) {
  uint64_t h = 0x9E3779B97F4A7C15ull;
  for (int x = 0; x < width; ++x) h = (h ^ row[x]) * 0x100000001B3ull;
  return h;
}

// How far the picture moved up between the looks, as the rows seen again in a few places tell
// where they were first seen; 0 when they do not tell.
int ShiftOf(const Looks& looks) {
  std::vector<std::pair<uint64_t, int>> first(static_cast<size_t>(looks.count));
  for (int t = 0; t < looks.count; ++t) first[static_cast<size_t>(t)] = {RowHash(looks.First(t), looks.width), t};
  std::sort(first.begin(), first.end());
  std::vector<int> votes;
  for (int k = 1; k <= 15; ++k) {
    const int t = looks.count * k / 16;
    const auto at = std::lower_bound(first.begin(), first.end(), std::make_pair(RowHash(looks.Again(t), looks.width), -1));
    // Only a row seen once first tells where it was.
    if (at == first.end() || at->first != RowHash(looks.Again(t), looks.width)) continue;
    if (at + 1 != first.end() && (at + 1)->first == at->first) continue;
    if (at->second > t) votes.push_back(at->second - t);
  }
  if (votes.empty()) return 0;
  std::sort(votes.begin(), votes.end());
  return votes[votes.size() / 2];
}

}  // namespace

Settle JudgeSettle(const PixelView& grab, int rangeWidth, int rangeHeight, GrabRows rows,
                   const std::vector<uint32_t>& saved, int firstColumn, int endColumn) {
  if (rows.count <= 0 || saved.size() != Pixels(rangeWidth, rows, grab)) return Settle::Changing;
  const int width = endColumn - firstColumn;
  const Looks looks{FirstInMemory(grab, rows) + firstColumn, saved.data() + firstColumn, rows.count, width, grab.width};
  const Spread still = Differences(looks, 0);
  if (still.top < 0) return Settle::Still;
  if (still.Fits(width, rangeHeight)) return Settle::Animating;
  // Moved up as a whole, but for a region: two whole pictures of a page still in motion, the
  // first as good as the second. Rows half painted do not move so.
  const int shift = ShiftOf(looks);
  if (shift > 0 && rows.count - shift >= std::min(8, (rows.count + 1) / 2) &&
      Differences(looks, shift).Fits(width, rangeHeight))
    return Settle::Moving;
  return Settle::Changing;
}

bool AppendNow(int& changingInARow, Settle settle, int growth, int rangeHeight) {
  if (settle != Settle::Changing || growth >= rangeHeight / 3 || ++changingInARow > kUnsettledTicksAllowed) {
    changingInARow = 0;
    return true;
  }
  return false;
}
