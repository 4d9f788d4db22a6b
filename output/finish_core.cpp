#include "output/finish_core.h"

#include <algorithm>

#include "settings/text.h"

int TrimmedHeight(const PixelView& image, int rangeWidth, int scrollY) {
  // A range taller than the image (stacked screens) leaves scrollY past its last row: rows
  // that do not exist are empty.
  for (int y = std::min(scrollY, image.height - 1); y >= 0; --y) {
    const uint32_t* row = ViewRow(image, y);
    for (int x = 0; x <= rangeWidth - 1; x += 10)
      if ((row[x] & 0x00FFFFFFu) != 0) return y;
  }
  return std::min(scrollY, image.height);
}

bool RememberName(std::vector<std::string>& history, const std::string& name) {
  for (const std::string& known : history)
    if (AsciiLower(known) == AsciiLower(name)) return false;
  if (history.size() == kNameHistorySize) history.erase(history.begin());
  history.push_back(name);
  return true;
}
