#include "state/main_wnd_requests.h"

#include "state/state.h"

namespace {
void ShowLayout(Layout layout) { SendMessageA(glMainWnd, kMsgShowLayout, static_cast<WPARAM>(layout), 0); }
}  // namespace

void ShowStartLayout() { ShowLayout(Layout::Start); }
void ShowRangeLayout() { ShowLayout(Layout::Range); }
void ShowCaptureLayout() { ShowLayout(Layout::Capture); }
void ShowKeptLayout() { ShowLayout(Layout::Kept); }
void ShowFollowing() { SendMessageA(glMainWnd, kMsgFollowing, 0, 0); }
void TellRangeChosen() { SendMessageA(glMainWnd, kMsgRangeChosen, 0, 0); }
void TellNameRemembered() { SendMessageA(glMainWnd, kMsgNameRemembered, 0, 0); }

void RepaintMainWnd() { InvalidateRect(glMainWnd, nullptr, FALSE); }
