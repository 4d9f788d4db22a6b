#include "capture/stitch.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

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

namespace {

// Steps before the search: nothing new visible, or the image full. True when the search runs.
bool NeedsSearch(const PixelView& image, const PixelView& grab, int w, int h, int scrollY, int maxHeight,
                 int32_t imageBytes, const StitchColumns& cols, StitchDecision& d) {
  if (scrollY != h) {
    const uint32_t* imageRow = ViewRow(image, scrollY - 1);
    const uint32_t* grabRow = ViewRow(grab, h - 1);
    const int64_t rowOffset = 4 * (static_cast<int64_t>(image.width) * (image.height - scrollY));
    bool differs = false;
    for (int c = 0; c < w && !differs; c += cols.step)
      differs = rowOffset + 4 * c <= imageBytes && imageRow[c] != grabRow[c];
    if (!differs) {
      d.outcome = StitchOutcome::Unchanged;
      return false;
    }
  }
  if (scrollY > maxHeight - h) {
    d.outcome = StitchOutcome::LimitReached;
    return false;
  }
  return true;
}

// The key-row walk shared by both searches; findMatch(y, r) gives the largest grab row <= r
// whose sampled columns equal image row y's, or -1.
template <typename FindMatch>
StitchDecision WalkKeyRows(const PixelView& image, int h, int scrollY, const StitchColumns& cols,
                           FindMatch findMatch) {
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  int matches = 0;
  int firstY = 0, firstR = 0;
  for (int y = scrollY - 1; y >= 0; --y) {
    if (MiddleColumnsUniform(ViewRow(image, y), cols)) continue;
    int r = findMatch(y, h - 1);
    while (r >= 0) {
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
      r = findMatch(y, r - kKeyRowMove - 1);
    }
  }
  return d;
}

}  // namespace

uint64_t SampledColumnsHash(const uint32_t* row, int width, int step) {
  uint64_t h = 0x9E3779B97F4A7C15ull;
  for (int c = 0; c < width; c += step) {
    h ^= row[c];
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  return h;
}

StitchDecision DecideStitchLiteral(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                                   int scrollY, int maxHeight, int32_t imageBytes) {
  const int w = rangeWidth, h = rangeHeight;
  const StitchColumns cols = StitchColumnsFor(w);
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, cols, d)) return d;
  return WalkKeyRows(image, h, scrollY, cols, [&](int y, int r) {
    const uint32_t* key = ViewRow(image, y);
    for (; r >= 0; --r)
      if (SampledColumnsEqual(ViewRow(grab, r), key, w, cols.step)) return r;
    return -1;
  });
}

StitchDecision DecideStitch(const PixelView& image, const PixelView& grab, int rangeWidth, int rangeHeight,
                            int scrollY, int maxHeight, int32_t imageBytes, RowHash hash, int literalRows) {
  const int w = rangeWidth, h = rangeHeight;
  const StitchColumns cols = StitchColumnsFor(w);
  StitchDecision d{StitchOutcome::NoMatch, 0, 0, scrollY};
  if (!NeedsSearch(image, grab, w, h, scrollY, maxHeight, imageBytes, cols, d)) return d;
  // The usual tick finds its rows within a few grabs' worth of row comparisons: compare
  // literally first. Past that, index the grab's rows by hash (then by row, so the rows of one
  // hash lie together in increasing order) and look candidates up instead.
  int literalBudget = literalRows >= 0 ? literalRows : kLiteralGrabs * h;
  std::vector<std::pair<uint64_t, int>> index;
  return WalkKeyRows(image, h, scrollY, cols, [&](int y, int r) {
    const uint32_t* key = ViewRow(image, y);
    for (; r >= 0 && literalBudget > 0; --r, --literalBudget)
      if (SampledColumnsEqual(ViewRow(grab, r), key, w, cols.step)) return r;
    if (r < 0) return -1;
    if (index.empty()) {
      index.resize(static_cast<size_t>(h));
      for (int g = 0; g < h; ++g) index[static_cast<size_t>(g)] = {hash(ViewRow(grab, g), w, cols.step), g};
      std::sort(index.begin(), index.end());
    }
    const uint64_t keyHash = hash(key, w, cols.step);
    // The candidates of this hash at or below row r, from the largest row down; a candidate
    // whose columns differ is a collision.
    auto it = std::upper_bound(index.begin(), index.end(), std::make_pair(keyHash, r));
    while (it != index.begin()) {
      --it;
      if (it->first != keyHash) break;
      if (SampledColumnsEqual(ViewRow(grab, it->second), key, w, cols.step)) return it->second;
    }
    return -1;
  });
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
