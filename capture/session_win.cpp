#include "capture/session.h"

#include <mmsystem.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "capture/last_look.h"
#include "capture/settle.h"
#include "capture/stitch.h"
#include "range/frame_wnd.h"
#include "state/main_wnd_requests.h"
#include "state/state.h"

namespace {

// What the stitching step has learnt about the rows of glBufDC; only the step and StartCapture
// touch it.
StitchRows glStitchRows;
// The ticks in a row that found no place for what the screen showed.
int glNoPlaceTicks;
// Ticks in a row whose rows to append did not hold still, and those rows as first grabbed.
int glUnsettledTicks;
std::vector<uint32_t> glSettleRows;
// The rows above them, looked at again in the same wait.
std::vector<uint32_t> glSettleAbove;
// The screen as the last append saw it, and what the looks since have learnt.
LastLook glLastLook;

// How long rows that are about to be appended must hold still. Programs that move their
// content first paint the uncovered rows within a few tens of milliseconds; a grab of that
// half-painted state left in the image by a shorter look is mended by a later tick, whose
// overlap no longer agrees with it.
constexpr DWORD kSettleMs = 30;

// Copies rows first .. first + count - 1 of the grabbed rectangle of the screen to the same rows
// of a surface.
void GrabScreenRows(const Surface& into, int first, int count) {
  BitBlt(into.memDC, 0, first, glHanniWidth, count, glDisplayDC, glHanniLeft + glBorder,
         glHanniTop + glBorder + first, SRCCOPY);
  GdiFlush();  // the pixels are read through the view next
}
void GrabRange(const Surface& into) { GrabScreenRows(into, 0, glHanniHeight); }

// The rows an append would take, grabbed again a moment later: whether to append now (then the
// grab holds them as first seen, on which the decision was made).
bool AppendedRowsSettled(const PixelView& grab, const StitchDecision& d, int scrollY) {
  const GrabRows rows = AppendedRows(d, glHanniHeight);
  if (rows.count == 0) return true;
  // The rows above them, which the image holds already, are looked at again too: those that hold
  // still may replace what the image kept of them. The decision was made on them as first grabbed.
  const GrabRows above{0, rows.first};
  const int contentEnd = d.contentEnd > d.contentBegin ? d.contentEnd : glHanniWidth;
  SaveGrabRows(grab, glHanniWidth, rows, glSettleRows);
  SaveGrabRows(grab, glHanniWidth, above, glSettleAbove);
  Sleep(kSettleMs);
  GrabScreenRows(glSmallBufDC, 0, rows.first + rows.count);
  NoteRowsHeldStill(grab, above, glSettleAbove, d.contentBegin, contentEnd, glLastLook.still);
  RestoreGrabRows(grab, glHanniWidth, above, glSettleAbove);
  const Settle settle =
      JudgeSettle(grab, glHanniWidth, glHanniHeight, rows, glSettleRows, d.contentBegin, d.contentEnd);
  if (settle != Settle::Still) RestoreGrabRows(grab, glHanniWidth, rows, glSettleRows);
  return AppendNow(glUnsettledTicks, settle, d.newScrollY - scrollY, glHanniHeight);
}

}  // namespace

void StartCapture() {
  StopCaptureTimer();  // no step of an earlier session may touch the surfaces made below
  glCapturing = 1;
  ReleaseSurface(glBufDC);
  ReleaseSurface(glSmallBufDC);
  ReleaseSurface(glSeenBufDC);
  const int width = glHanniWidth + 2 * glBorder;
  // A range taller than the image's limit (monitors stacked) is kept whole as the first grab.
  const int rows = std::max(glBufMaxH, glHanniHeight) + 2 * glBorder;
  if (!CreateSurface(glBufDC, "TallSnap_glBufDC", 0, width, rows, 32) ||
      !CreateSurface(glSmallBufDC, "TallSnap_glSmallBufDC", 0, width, glHanniHeight + 2 * glBorder, 32) ||
      !CreateSurface(glSeenBufDC, "TallSnap_glSeenBufDC", 0, width, glHanniHeight + 2 * glBorder, 32)) {
    // The user has been told; no step runs without the surfaces, and the range can be chosen again.
    ReleaseSurface(glBufDC);
    ReleaseSurface(glSmallBufDC);
    ReleaseSurface(glSeenBufDC);
    glCapturing = 0;
    RepaintMainWnd();
    ShowRangeLayout();
    return;
  }
  RepaintMainWnd();
  GrabRange(glBufDC);
  GrabRange(glBufDC);
  glScrollY = glHanniHeight;
  glFillRowsAtEnd = 0;
  glUnsettledTicks = 0;
  glNoPlaceTicks = 0;
  // The new surface is black below the first grab. The keys of the row hash are drawn anew
  // for every session, so that no content can be made to collide on purpose.
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  ResetStitchRows(glStitchRows, SurfaceView(glBufDC), glHanniWidth, glHanniHeight, glHanniHeight,
                  static_cast<uint64_t>(now.QuadPart) ^ reinterpret_cast<uintptr_t>(glBufDC.view));
  StartLastLook(glLastLook, SurfaceView(glBufDC), glHanniWidth, glHanniHeight, SurfaceView(glBufDC).height);
  glTimerId = timeSetEvent(100, 0, CaptureStep, 0, TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
  RepaintMainWnd();
  ShowCaptureLayout();
  ShowRangeFrame();
}

void StopCaptureTimer() {
  if (glTimerId != 0) timeKillEvent(glTimerId);
  glTimerId = 0;
  // A step that passed its guard before the timer died finishes first. The step claims
  // glStepBusy before it reads glCapturing, so once glCapturing is 0 and glStepBusy is seen
  // 0 here, no step is inside and none can enter.
  while (glStepBusy.load() != 0) Sleep(1);
  glFollowing = 1;
  ShowFollowing();
  // Only then: taking the frame away makes the target repaint round the range, and a step
  // still grabbing could take in the repainting.
  HideRangeFrame();
}

void RefreshImageTail() {
  if (glBufDC.memDC == nullptr || glSmallBufDC.memDC == nullptr) return;
  GrabRange(glSmallBufDC);
  FinishLastLook(glLastLook, SurfaceView(glBufDC), SurfaceView(glSmallBufDC), glScrollY.load() - glFillRowsAtEnd);
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
  const PixelView image = SurfaceView(glBufDC), grab = SurfaceView(glSmallBufDC);
  const int scrollY = glScrollY.load();
  const StitchDecision d =
      DecideStitch(image, grab, glHanniWidth, glHanniHeight, scrollY, glBufMaxH, glBufDC.dibBytes, glStitchRows,
                   SeenBy(glLastLook, image));
  if (d.outcome == StitchOutcome::LimitReached) glCapturing = 0;
  const int following = StillFollowing(glNoPlaceTicks, d.outcome) ? 1 : 0;
  if (glFollowing.exchange(following) != following) PostMessageA(glMainWnd, kMsgFollowing, 0, 0);
  const bool changes = d.outcome == StitchOutcome::Append && AppendChangesImage(image, grab, glHanniWidth, scrollY, d);
  if (!changes) NoteTickWithoutSettle(glUnsettledTicks);
  glLastLook.still.assign(glLastLook.still.size(), 0);  // no second look at this tick's rows yet
  const bool append = d.outcome == StitchOutcome::Append && (!changes || AppendedRowsSettled(grab, d, scrollY));
  // A grab the look keeps stays where it is: the next tick grabs into the other surface.
  if (LookAtTick(image, grab, glHanniWidth, glHanniHeight, d, append, scrollY, glStitchRows, glLastLook))
    std::swap(glSmallBufDC, glSeenBufDC);
  if (append) {
    glFillRowsAtEnd = FillRowsAtEnd(grab, glHanniHeight, d.matchRow);
    glScrollY = d.newScrollY;
  }
  glStepBusy = 0;
  InvalidateRect(glMainWnd, nullptr, FALSE);
}
