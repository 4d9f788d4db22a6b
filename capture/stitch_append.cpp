#include "capture/stitch.h"

#include <algorithm>
#include <cstring>

#include "capture/stitch_index.h"

using stitching::Adopt;
using stitching::LearnClasses;
using stitching::LearnRow;
using stitching::LearnRows;

namespace {

// The last image row an append turns black, from the row below the key row on.
int FillEndOf(const PixelView& image, int h, int keyRow) {
  return std::min(keyRow + h + kStitchBorder * 2, image.height - 1);
}

// The grab rows an append copies from matchRow on: those past its last row (H + 5) leave the
// black of the fill.
int CopyRowsOf(const PixelView& grab, int h, int matchRow) {
  return std::min(h - 2 * kStitchBorder, grab.height - matchRow);
}

}  // namespace

void ApplyStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                 int matchRow, StitchRows& rows) {
  const int w = rangeWidth, h = rangeHeight;
  Adopt(rows, image, w, h);
  const int fillEnd = FillEndOf(image, h, keyRow), copyRows = CopyRowsOf(grab, h, matchRow);
  const int copyEnd = std::max(keyRow, std::min(keyRow + copyRows, image.height));
  // Below the copied rows the fill makes whole rows black; the rows known black already are
  // left alone, which spares rewriting a grab's worth of rows at every append. Consecutive
  // rows lie together in memory, the lowest row first.
  const int blackStart = std::max(copyEnd, keyRow + 1);
  const int blackLast = std::min(fillEnd, rows.blackFrom - 1);
  if (blackLast >= blackStart)
    std::memset(ViewRow(image, blackLast), 0,
                sizeof(uint32_t) * image.width * static_cast<size_t>(blackLast - blackStart + 1));
  // Rows from the key row on are new. When the record knows every row above them, each
  // copied row is learnt on its way through the copy, while it is at hand, instead of being
  // read once more.
  rows.knownRows = std::min(rows.knownRows, keyRow);
  const bool learning = rows.knownRows == keyRow;
  for (int y = copyEnd - 1; y >= keyRow; --y) {  // in memory order
    const uint32_t* from = ViewRow(grab, matchRow + (y - keyRow));
    uint32_t* to = ViewRow(image, y);
    if (learning) {
      LearnRow(rows, image, y, from);
    } else {
      std::memcpy(to, from, sizeof(uint32_t) * static_cast<size_t>(w));
    }
    // Below the key row the fill's black stays past the range width.
    if (y > keyRow && image.width > w) std::fill(to + w, to + image.width, 0u);
  }
  if (learning) {
    rows.knownRows = copyEnd;
    LearnClasses(rows, image, keyRow, copyEnd);
  }
  // Rows between the fill and blackFrom were not touched and may hold anything.
  if (rows.blackFrom <= fillEnd + 1) rows.blackFrom = blackStart;
  // The black rows the image may end with.
  LearnRows(rows, image, std::min(keyRow + h - matchRow - kStitchBorder, rows.height));
}

int FillRowsAtEnd(const PixelView& grab, int rangeHeight, int matchRow) {
  return std::max(0, rangeHeight - kStitchBorder - matchRow - CopyRowsOf(grab, rangeHeight, matchRow));
}

void ApplyStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight, int keyRow,
                        int matchRow) {
  const int w = rangeWidth, h = rangeHeight;
  const int fillEnd = FillEndOf(image, h, keyRow), copyRows = CopyRowsOf(grab, h, matchRow);
  for (int y = keyRow + 1; y <= fillEnd; ++y) std::memset(ViewRow(image, y), 0, sizeof(uint32_t) * image.width);
  for (int i = 0; i < copyRows && keyRow + i < image.height; ++i)
    std::memcpy(ViewRow(image, keyRow + i), ViewRow(grab, matchRow + i), sizeof(uint32_t) * w);
}
