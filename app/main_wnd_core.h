// The main window's rules that need no window: control ids and its layouts.
#ifndef TALLSNAP_APP_MAIN_WND_CORE_H
#define TALLSNAP_APP_MAIN_WND_CORE_H

#include <cstddef>
#include <vector>

#include "state/layout.h"

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

struct LayoutStep {
  int id;
  bool show;
};

// The ShowWindow calls of a layout, in order. The range layout offers "前と同じ範囲で" only when
// a stored range rectangle more than 100 pixels wide exists.
std::vector<LayoutStep> LayoutSteps(Layout layout, int rangeLeft, int rangeRight);

// The instruction while capturing, and in its place while the capture cannot follow the screen
// (the content moved past the range, or changed beyond recognition).
constexpr const char* kCaptureNoteText =
    "★撮影中！画像のスライドバーを使って下にゆっくりスクロールさせて下さい。途中で切れたら、上に戻してから再度下に"
    "スクロールしてください。行きすぎたら、上に戻してください。";
constexpr const char* kLostNoteText =
    "★つながりが切れました！画像のスライドバーを使って、少し上に戻してください。つながると帯が赤に戻るので、また"
    "下にゆっくりスクロールさせて下さい。";
// The band's colours (0x00BBGGRR): red capturing, yellow capturing but not following, cyan otherwise.
constexpr unsigned long kCapturingBand = 0x0000FFul, kLostBand = 0x00FFFFul, kIdleBand = 0xFFFF00ul;

// The main window is laid out in pixels of a 96-DPI screen; on a scaled screen every length is
// scaled by the window's DPI (144 at 150 %), while captures stay in the screen's own pixels.
constexpr int kBaseDpi = 96;
constexpr int kMainWndWidth = 613;
constexpr int kMainWndHeight = 80;
constexpr int kFontHeight = -12;  // character height, as CreateFont takes it
// The coloured band behind the controls and the preview of the newest rows at its top.
constexpr int kBandWidth = 600;
constexpr int kBandHeight = 100;
constexpr int kPreviewX = 500;
constexpr int kPreviewHeight = 40;

// A length of the 96-DPI layout at this DPI, to the nearest pixel (halves away from zero). A DPI
// of 0 or less, which a failed query gives, leaves it as it is.
int ScaleToDpi(int length, int dpi);

// A control's place in client coordinates (a combobox's height includes its dropped list).
struct ControlRect {
  int x, y, w, h;
};
// The place at this DPI. Its edges are scaled, not its size, so that controls that meet at
// 96 DPI still meet, and never overlap where they did not.
ControlRect ScaleRectToDpi(const ControlRect& rect, int dpi);

// A control's place in a layout at 96 DPI: the kept layout moves the format list, the name box
// and the desktop check onto the capture layout's free places; every other place is standard.
ControlRect PlaceInLayout(Layout layout, int id, const ControlRect& standard);

#endif
