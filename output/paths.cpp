#include "output/paths.h"

#include <cstdio>
#include <cstring>

#include "settings/settings_format.h"
#include "shared/text.h"

PathParts SplitPath(const std::string& path) {
  PathParts parts;
  const bool driveLetter = path.size() >= 3 && path[1] == ':' && path[2] == '\\';
  // A network path splits at its last backslash too: its folders are everything before it.
  const bool network = path.size() >= 3 && path[0] == '\\' && path[1] == '\\';
  if (!driveLetter && !network) return parts;
  parts.valid = true;
  const size_t start = driveLetter ? 2 : 0;
  parts.drive = path.substr(0, start);
  // The walk stops on characters only, never on a second byte, which may be "\" (表 is 95 5C).
  size_t lastSlash = start;
  for (size_t i = start; i < path.size(); i += SjisCharBytes(path, i))
    if (path[i] == '\\') lastSlash = i;
  parts.folders = path.substr(start, lastSlash + 1 - start);
  const std::string rest = path.substr(lastSlash + 1);
  size_t dot = std::string::npos;
  for (size_t i = 0; i < rest.size(); i += SjisCharBytes(rest, i))
    if (rest[i] == '.') dot = i;
  parts.name = rest.substr(0, dot);
  parts.extension = dot == std::string::npos ? std::string() : rest.substr(dot);
  return parts;
}

bool GetField(const std::string& text, char separator, int k, std::string& out) {
  out.clear();
  int field = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == separator) {
      if (field == k) return true;  // the separator ending field k
      ++field;
      continue;
    }
    if (field == k) out += text[i];
  }
  return !out.empty();
}

std::string FilterBlockFor(const std::string& fileTypeText) {
  std::string block;
  std::string field;
  bool more = true;
  for (int k = 0; more; ++k) {
    more = GetField(fileTypeText, ',', k, field);
    if (field.empty()) {
      block += std::string("すべてのファイル(*)") + '\0' + "*" + '\0';
      continue;
    }
    block += field + '\0';
    const size_t open = field.find('(');
    if (open != std::string::npos) {
      const size_t close = field.find(')', open + 1);
      block += field.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    block += '\0';
  }
  return block + '\0';
}

ReplyPaths ParseReplyPaths(const char* reply, size_t len, size_t maxNames) {
  ReplyPaths result;
  auto textAt = [&](size_t at) {
    size_t end = at;
    while (end < len && reply[end] != '\0') ++end;
    return std::string(reply + at, end - at);
  };
  const std::string first = textAt(0);
  const PathParts parts = SplitPath(first);
  // A second text after the first makes a list (folder, then names), as multi-selection
  // dialogs answer; its folder has a name part too, so the split alone cannot tell.
  const bool listFollows = first.size() + 1 < len && reply[first.size() + 1] != '\0';
  if (!parts.name.empty() && !listFollows) {
    result.folder = parts.drive + parts.folders;
    result.names.push_back(parts.name + parts.extension);
    return result;
  }
  result.folder = first + "\\";
  size_t at = first.size() + 1;
  while (at < len && result.names.size() < maxNames) {
    const std::string name = textAt(at);
    if (name.empty()) break;
    result.names.push_back(name);
    if (name.size() < 2) break;
    at += name.size() + 1;
  }
  return result;
}

std::string SaveRequestFolder(const std::string& folder) {
  // A last byte of 0x5C may be the second half of ソ or 表, which must stay whole.
  size_t last = std::string::npos;
  for (size_t i = 0; i < folder.size(); i += SjisCharBytes(folder, i))
    if (i + 1 == folder.size() && folder[i] == '\\') last = i;
  return last == std::string::npos ? folder : folder.substr(0, last);
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
  const PathParts p = SplitPath(path);
  return p.drive + p.folders + p.name + extension;
}

std::string FolderOfPath(const std::string& path) {
  const PathParts p = SplitPath(path);
  return p.drive + p.folders;
}

namespace {

// Whether the path's file name, before its first "." and trailing spaces, is one Windows keeps for a
// device (CON, PRN, AUX, NUL, COM1 .. COM9, LPT1 .. LPT9, in any case and with any extension):
// a file of that name is the device, and what is written there is gone.
bool IsDeviceName(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); i += SjisCharBytes(path, i))
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') start = i + 1;
  std::string stem = AsciiLower(path.substr(start, path.find('.', start) - start));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

}  // namespace

bool NextFreeName(std::string& path, const std::function<bool(const std::string&)>& exists) {
  const auto taken = [&](const std::string& p) { return IsDeviceName(p) || exists(p); };
  if (!taken(path)) return true;
  std::string stem = path;
  const std::string extension = SplitExtension(stem);
  size_t digits = 0;
  while (digits < stem.size() && stem[stem.size() - 1 - digits] >= '0' && stem[stem.size() - 1 - digits] <= '9')
    ++digits;
  unsigned counter = 0;
  for (size_t i = stem.size() - digits; i < stem.size(); ++i) counter = (counter * 10 + (stem[i] - '0')) % 256;
  stem.resize(stem.size() - digits);
  for (int tries = 0; tries < 256; ++tries) {
    counter = (counter + 1) % 256;
    char number[8];
    std::snprintf(number, sizeof number, "%03u", counter);
    const std::string candidate = stem + number + extension;
    if (!taken(candidate)) {
      path = candidate;
      return true;
    }
  }
  return false;
}

bool IsImageFileName(const std::string& name, bool allowAvi) {
  if (name.size() < 4) return false;
  const std::string lower = AsciiLower(name);
  auto endsWith = [&](const char* tail) {
    const size_t n = std::strlen(tail);
    return lower.size() >= n && lower.compare(lower.size() - n, n, tail) == 0;
  };
  return endsWith("jpg") || endsWith("png") || endsWith("gif") || endsWith("bmp") || endsWith("tiff") ||
         (allowAvi && endsWith("avi"));
}

namespace {

std::string Forbidden(const std::string& text, size_t from, bool separators) {
  for (size_t i = from; i < text.size(); i += SjisCharBytes(text, i)) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20) return "（見えない制御文字）";
    if (c == '\\' && separators) continue;
    if (std::strchr("\\/:*?\"<>|", c) != nullptr) return std::string("「") + static_cast<char>(c) + "」";
  }
  return std::string();
}

}  // namespace

std::string ForbiddenInName(const std::string& name) { return Forbidden(name, 0, false); }

std::string ForbiddenInPath(const std::string& path) {
  const bool driveLetter = path.size() >= 2 && path[1] == ':';
  const bool network = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  return Forbidden(path, driveLetter || network ? 2 : 0, true);
}
