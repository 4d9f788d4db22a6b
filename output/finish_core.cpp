#include "output/finish_core.h"

#include "settings/text.h"

int TrimmedHeight(const PixelView& image, int rangeWidth, int scrollY) {
  for (int y = scrollY; y >= 0; --y) {
    const uint32_t* row = ViewRow(image, y);
    for (int x = 0; x <= rangeWidth - 1; x += 10)
      if ((row[x] & 0x00FFFFFFu) != 0) return y;
  }
  return scrollY;
}

bool RememberName(std::vector<std::string>& history, const std::string& name) {
  for (const std::string& known : history)
    if (AsciiLower(known) == AsciiLower(name)) return false;
  if (history.size() == kNameHistorySize) history.erase(history.begin());
  history.push_back(name);
  return true;
}
