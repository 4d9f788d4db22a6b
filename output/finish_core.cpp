#include "output/finish_core.h"

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

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
    if (SameIgnoringCase(known, name)) return false;
  if (history.size() == kNameHistorySize) history.erase(history.begin());
  history.push_back(name);
  return true;
}
