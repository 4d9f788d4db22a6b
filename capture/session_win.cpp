#include "capture/session.h"

#include <windows.h>
#include <mmsystem.h>

#include "app/main_wnd.h"
#include "app/state.h"

// Capturing is not built yet: "前と同じ範囲で" does nothing so far.
void StartCapture() {}

void CancelCapture() {
  glCapturing = 0;
  RepaintMainWnd();
  timeKillEvent(glTimerId);
  ShowStartLayout();
}
