// The main window's rules that need no window: control ids, the three layouts, the format
// list and how a converter reply is stored.
#ifndef TALLSNAP_APP_MAIN_WND_CORE_H
#define TALLSNAP_APP_MAIN_WND_CORE_H

#include <cstddef>
#include <vector>

enum ControlId {
  kIdRangeButton = 1000,   // "範囲指定する"
  kIdFinishButton = 1001,  // "終わる"
  kIdCaptureNote = 1002,   // instruction while capturing
  kIdFormatBox = 1003,     // output format combobox
  kIdFormatLabel = 1004,
  kIdNameLabel = 1005,
  kIdTopNote = 1006,
  kIdRangeNote = 1007,
  kIdReadyButton = 1008,   // "見えるようにしたら押してください。"
  kIdSameRangeButton = 1009,
  kIdCancelButton = 1010,
  kIdNameBox = 1011,       // output name combobox
  kIdLatestButton = 1012,
  kIdDesktopCheck = 1013,
};
constexpr int kControlCount = 14;

enum class Layout { Start, Range, Capture };

struct LayoutStep {
  int id;
  bool show;
};

// The ShowWindow calls of a layout, in order. The range layout offers "前と同じ範囲で" only when
// a stored range rectangle more than 100 pixels wide exists.
std::vector<LayoutStep> LayoutSteps(Layout layout, int hanniLeft, int hanniRight);

struct FormatItem {
  char key;  // first byte of the format text that selects the item
  const char* text;
};
constexpr int kFormatItemCount = 5;
extern const FormatItem kFormatItems[kFormatItemCount];

// The item whose key is this first byte, or nullptr ("b" and "B" differ).
const FormatItem* FormatItemForKey(int firstByte);

// Size of the reply buffer and of the part of it cleared before each reply.
constexpr size_t kReplyBufBytes = 10000;
constexpr size_t kReplyClearBytes = 1000;

// Stores a reply payload in buf (cap bytes): clears the first bytes as the converter
// protocol expects, copies at most cap - 1 bytes and always ends them with a zero byte.
// Returns the number of payload bytes stored.
size_t StoreReplyBytes(char* buf, size_t cap, const void* data, size_t len);

#endif
