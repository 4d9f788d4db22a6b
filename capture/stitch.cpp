#include "capture/stitch.h"

#include <algorithm>
#include <cstring>

StitchColumns StitchColumnsFor(int width) {
  StitchColumns c{};
  c.quarter = static_cast<int>(static_cast<float>(width / 4.0));
  c.step = c.quarter > 0 ? static_cast<int>(static_cast<float>(static_cast<double>(width) / c.quarter)) : 1;
  if (c.step < 1) c.step = 1;
  c.firstMiddle = static_cast<int>(static_cast<float>(width / 4.0 + 1));
  c.scanBound = static_cast<float>(3.0 * width / 4.0 - 1);
  return c;
}

namespace {

// Sampled columns 0, s, 2s, ... below W agree between the two rows.
bool SampledColumnsEqual(const uint32_t* a, const uint32_t* b, int width, int step) {
  for (int c = 0; c < width; c += step)
    if (a[c] != b[c]) return false;
  return true;
}

// A row whose middle columns all equal its pixel at the quarter column makes no key row:
// it would match almost anywhere.
bool MiddleColumnsUniform(const uint32_t* row, const StitchColumns& cols) {
  const uint32_t reference = row[cols.quarter];
  for (int c = cols.firstMiddle; static_cast<float>(c) <= cols.scanBound; c += cols.step)
    if (row[c] != reference) return false;
  return true;
}

}  // namespace

StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes) {
  const int w = rangeWidth, h = rangeHeight;
  const StitchColumns cols = StitchColumnsFor(w);
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};

  if (scrollY != h) {
    const uint32_t* imageRow = ViewRow(image, scrollY - 1);
    const uint32_t* grabRow = ViewRow(grab, h - 1);
    const int64_t rowOffset = 4 * (static_cast<int64_t>(image.width) * (image.height - scrollY));
    bool differs = false;
    for (int c = 0; c < w && !differs; c += cols.step)
      differs = rowOffset + 4 * c <= imageBytes && imageRow[c] != grabRow[c];
    if (!differs) {
      d.outcome = StitchOutcome::Unchanged;
      return d;
    }
  }
  if (scrollY > maxHeight - h) {
    d.outcome = StitchOutcome::LimitReached;
    return d;
  }

  int matches = 0;
  int firstY = 0, firstR = 0;
  for (int y = scrollY - 1; y >= 0; --y) {
    if (MiddleColumnsUniform(ViewRow(image, y), cols)) continue;
    int r = h - 1;
    while (r >= 0) {
      if (!SampledColumnsEqual(ViewRow(grab, r), ViewRow(image, y), w, cols.step)) {
        --r;
        continue;
      }
      if (matches == 0) {
        firstY = y;
        firstR = r;
      }
      if (++matches == kMatchesNeeded) {
        d.outcome = StitchOutcome::Append;
        d.keyRow = firstY;
        d.matchRow = firstR;
        d.newScrollY = firstY + h - firstR - kStitchBorder;
        return d;
      }
      // The next key row would lie above the image: this tick's search ends without a match.
      if (y - kKeyRowMove < 0) return d;
      y -= kKeyRowMove;
      r -= kKeyRowMove + 1;
    }
  }
  return d;
}

void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow) {
  const int w = rangeWidth, h = rangeHeight;
  const int fillEnd = std::min(keyRow + h + kStitchBorder * 2, image.height - 1);
  for (int y = keyRow + 1; y <= fillEnd; ++y) std::memset(ViewRow(image, y), 0, sizeof(uint32_t) * image.width);
  // Grab rows past its last row (H + 5) leave the black of the fill.
  const int copyRows = std::min(h - 2 * kStitchBorder, grab.height - matchRow);
  for (int i = 0; i < copyRows && keyRow + i < image.height; ++i)
    std::memcpy(ViewRow(image, keyRow + i), ViewRow(grab, matchRow + i), sizeof(uint32_t) * w);
}
