#include "settings/settings_format.h"

#include "shared/text.h"

namespace {

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

// The content ends at the first zero byte, as the files are read as C strings.
size_t ContentLength(const char* bytes, size_t len) {
  size_t n = 0;
  while (n < len && bytes[n] != '\0') ++n;
  return n;
}

}  // namespace

std::string ExtractLine(const char* bytes, size_t len, int n) {
  len = ContentLength(bytes, len);
  std::string line;
  int counter = 0;
  for (size_t i = 0; i < len; ++i) {
    const char c = bytes[i];
    if (IsBreak(c)) {
      if (i + 1 < len && IsBreak(bytes[i + 1])) ++i;
      if (++counter > n) break;
      continue;
    }
    if (counter == n && static_cast<unsigned char>(c) >= 0x20) line += c;
  }
  line.resize(SjisCutLength(line.data(), line.size(), kLineMaxBytes));
  return line;
}

WindowPos ParseMainWndPos(const char* bytes, size_t len) {
  len = ContentLength(bytes, len);
  int32_t coords[2] = {0, 0};
  int found = 0;
  std::string line;
  for (size_t i = 0; i < len && found < 2; ++i) {
    if (bytes[i] == '\r' && i + 1 < len && bytes[i + 1] == '\n') {
      coords[found++] = TextToInt(line);
      line.clear();
      ++i;
      continue;
    }
    if (line.size() < kCoordMaxBytes) line += bytes[i];
  }
  return WindowPos{coords[0], coords[1]};
}

std::string FormatMainWndPos(int32_t left, int32_t top) {
  return IntToText(left) + "\r\n" + IntToText(top) + "\r\n";
}

std::string SplitExtension(std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return std::string();
  std::string ext = path.substr(dot);
  path.erase(dot);
  return ext;
}

std::string SaveFolderFromLine(const std::string& line, const std::string& desktop, size_t capacity) {
  return line.size() < 2 || line.size() >= capacity ? desktop : line;
}
