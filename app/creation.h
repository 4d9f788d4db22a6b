#ifndef TALLSNAP_APP_CREATION_H
#define TALLSNAP_APP_CREATION_H

// The main window's one-time work once its controls exist: remembered settings, the format
// list, the start layout and the start-up timer.
void PrepareMainWindow();

#endif
