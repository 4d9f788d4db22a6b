#include "converters/kelvo_core.h"

#include <cstring>

#include "shared/text.h"

namespace {

// Index just past the last single-byte "\" or "/" (0 when there is none).
size_t NameStart(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); i += SjisCharBytes(path, i))
    if (path[i] == '\\' || path[i] == '/') start = i + 1;
  return start;
}

}  // namespace

OutputFormat FormatForPath(const std::string& path) {
  const std::string name = path.substr(NameStart(path));
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return OutputFormat::Unknown;
  const std::string ext = AsciiLower(name.substr(dot));
  if (ext == ".jpg" || ext == ".jpeg") return OutputFormat::Jpeg;
  if (ext == ".png") return OutputFormat::Png;
  if (ext == ".bmp") return OutputFormat::Bmp;
  return OutputFormat::Unknown;
}

std::string FolderPart(const std::string& path) { return path.substr(0, NameStart(path)); }

int QualityFromText(const std::string& text) {
  int value = 0;
  size_t digits = 0;
  while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
    value = value * 10 + (text[digits++] - '0');
  return digits == 0 || value < 1 || value > 100 ? 100 : value;
}

CopyItem ClassifyCopyData(uint64_t dwData, uint64_t wParam, size_t cbData) {
  if (wParam != 0 && dwData == wParam) {
    if (cbData == 4) return CopyItem::Owner;
    if (cbData == kOutputPathBlock) return CopyItem::OutputPath;
    return CopyItem::Unknown;
  }
  switch (dwData) {
    case kFilterItem: return CopyItem::Filter;
    case kDefaultNameItem: return CopyItem::DefaultName;
    case kFolderItem: return CopyItem::Folder;
    case kTitleItem: return CopyItem::Title;
    case kStartItem: return CopyItem::Start;
    default: return CopyItem::Unknown;
  }
}

bool PayloadText(const void* data, size_t len, size_t max, std::string& text) {
  text.clear();
  if (data == nullptr || len == 0) return true;
  const char* bytes = static_cast<const char*>(data);
  const void* zero = std::memchr(bytes, 0, len);
  const size_t n = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : len;
  if (n > max) return false;
  text.assign(bytes, n);
  return true;
}

SaveStep AcceptSaveItem(SaveRequest& request, CopyItem item, const void* data, size_t len) {
  static const CopyItem kOrder[] = {CopyItem::Filter, CopyItem::DefaultName, CopyItem::Folder,
                                    CopyItem::Title,  CopyItem::Owner,       CopyItem::Start};
  if (item == CopyItem::Filter) request = SaveRequest{};  // a new request always starts here
  if (request.next >= 6 || kOrder[request.next] != item) {
    request = SaveRequest{};
    return SaveStep::Refused;
  }
  bool ok = true;
  switch (item) {
    case CopyItem::Filter:
      ok = data != nullptr && len >= 2 && len <= kMaxFilterBytes;
      if (ok) {
        request.filter.assign(static_cast<const char*>(data), len);
        // The dialog reads pairs until an empty text: make sure the block ends in two zeros.
        request.filter.append(2, '\0');
      }
      break;
    case CopyItem::DefaultName: ok = PayloadText(data, len, kMaxPathBytes - 1, request.defaultName); break;
    case CopyItem::Folder: ok = PayloadText(data, len, kMaxPathBytes - 1, request.folder); break;
    case CopyItem::Title: ok = PayloadText(data, len, kMaxPathBytes - 1, request.title); break;
    case CopyItem::Owner:
      ok = data != nullptr && len == 4;
      if (ok) std::memcpy(&request.owner, data, 4);
      break;
    default: break;
  }
  if (!ok) {
    request = SaveRequest{};
    return SaveStep::Refused;
  }
  if (item == CopyItem::Start) {
    request.next = 0;
    return SaveStep::Start;
  }
  ++request.next;
  return SaveStep::Stored;
}
