#include "state/surface_layout.h"

#include <climits>

#include "shared/text.h"

bool SurfaceSizeValid(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  const int64_t bytes = 4 * static_cast<int64_t>(width) * height + kSurfaceSpareBytes;
  return bytes <= INT32_MAX;
}

namespace {
std::string BoundedPath(const std::string& text) {
  return text.substr(0, SjisCutLength(text.data(), text.size(), kPathBufBytes - 1));
}
}  // namespace

std::string SurfaceFileName(const std::string& name, int number) {
  return BoundedPath(std::string(kScratchFolder) + "\\" + name + IntToText(number) + ".txt");
}

std::string SurfaceMappingName(const std::string& name, int number) { return BoundedPath(name + IntToText(number)); }
