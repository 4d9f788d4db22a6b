#include "capture/session.h"

#include <mmsystem.h>

#include "app/main_wnd.h"
#include "app/state.h"
#include "capture/stitch.h"
#include "range/hanni_wnd.h"

namespace {

// Copies the grabbed rectangle of the screen to the top-left of a surface.
void GrabRange(const Surface& into) {
  BitBlt(into.memDC, 0, 0, glHanniWidth, glHanniHeight, glDisplayDC, glHanniLeft + glBorder, glHanniTop + glBorder,
         SRCCOPY);
  GdiFlush();  // the pixels are read through the view next
}

}  // namespace

void StartCapture() {
  StopCaptureTimer();  // no step of an earlier session may touch the surfaces made below
  glCapturing = 1;
  ReleaseSurface(glBufDC);
  ReleaseSurface(glSmallBufDC);
  const int width = glHanniWidth + 2 * glBorder;
  if (!CreateSurface(glBufDC, "TallSnap_glBufDC", 0, width, glBufMaxH + 2 * glBorder, 32) ||
      !CreateSurface(glSmallBufDC, "TallSnap_glSmallBufDC", 0, width, glHanniHeight + 2 * glBorder, 32)) {
    // The user has been told; no step runs without both surfaces, and the range can be chosen again.
    ReleaseSurface(glBufDC);
    ReleaseSurface(glSmallBufDC);
    glCapturing = 0;
    RepaintMainWnd();
    ShowRangeLayout();
    return;
  }
  RepaintMainWnd();
  GrabRange(glBufDC);
  GrabRange(glBufDC);
  glScrollY = glHanniHeight;
  // The new surface is black below the first grab. The keys of the row hash are drawn anew
  // for every session, so that no content can be made to collide on purpose.
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  ResetStitchRows(glStitchRows, SurfaceView(glBufDC), glHanniWidth, glHanniHeight, glHanniHeight,
                  static_cast<uint64_t>(now.QuadPart) ^ reinterpret_cast<uintptr_t>(glBufDC.view));
  glTimerId = timeSetEvent(100, 0, CaptureStep, 0, TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
  RepaintMainWnd();
  ShowCaptureLayout();
}

void StopCaptureTimer() {
  if (glTimerId != 0) timeKillEvent(glTimerId);
  glTimerId = 0;
  // A step that passed its guard before the timer died finishes first. The step claims
  // glStepBusy before it reads glCapturing, so once glCapturing is 0 and glStepBusy is seen
  // 0 here, no step is inside and none can enter.
  while (glStepBusy.load() != 0) Sleep(1);
}

void CancelCapture() {
  glCapturing = 0;
  RepaintMainWnd();
  StopCaptureTimer();
  ShowStartLayout();
}

void CALLBACK CaptureStep(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (glStepBusy.exchange(1) != 0) return;  // the previous tick is still running
  if (glCapturing.load() == 0) {
    glStepBusy = 0;
    return;
  }
  GrabRange(glSmallBufDC);
  DrawDashedFrame(glDisplayDC, glHanniLeft, glHanniTop, glHanniRight, glHanniBottom, 2);
  const PixelView image = SurfaceView(glBufDC), grab = SurfaceView(glSmallBufDC);
  const StitchDecision d = DecideStitch(image, grab, glHanniWidth, glHanniHeight, glScrollY.load(), glBufMaxH,
                                        glBufDC.dibBytes, glStitchRows);
  if (d.outcome == StitchOutcome::LimitReached) glCapturing = 0;
  if (d.outcome == StitchOutcome::Append) {
    ApplyStitch(image, grab, glHanniWidth, glHanniHeight, d.keyRow, d.matchRow, glStitchRows);
    glScrollY = d.newScrollY;
  }
  glStepBusy = 0;
  InvalidateRect(glMainWnd, nullptr, FALSE);
}
