// The capture session: its surfaces, the first grab and the stitching timer.
#ifndef TALLSNAP_CAPTURE_SESSION_H
#define TALLSNAP_CAPTURE_SESSION_H

#include <windows.h>

#include "capture/stitch.h"
#include "state/surface.h"

// Starts a session on the stored range: new surfaces, the first grab, the 100 ms timer.
void StartCapture();
// Abandons the session; its surfaces stay until the next session, a finish or shutdown.
void CancelCapture();
// Kills the stitching timer and waits for a step that is still running, so that the caller
// may read, release or recreate the capture surfaces. Set glCapturing to 0 first.
void StopCaptureTimer();
// At the finish, once the timer is stopped: the first screen's rows take their newest looks, and
// one more grab refreshes the image's last screen where it held still since the last append.
void RefreshImageTail();
// The multimedia timer's callback: one stitching step.
void CALLBACK CaptureStep(UINT timerId, UINT message, DWORD_PTR user, DWORD_PTR reserved1, DWORD_PTR reserved2);

// The surface's pixels as the stitching reads them.
inline PixelView SurfaceView(const Surface& s) {
  return PixelView{static_cast<uint32_t*>(s.view), s.width, s.height};
}

#endif
