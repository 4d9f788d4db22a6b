// The capture session: its surfaces, the first grab and the stitching timer.
#ifndef TALLSNAP_CAPTURE_SESSION_H
#define TALLSNAP_CAPTURE_SESSION_H

void StartCapture();
// Abandons the session; its surfaces stay until the next session, a finish or shutdown.
void CancelCapture();

#endif
