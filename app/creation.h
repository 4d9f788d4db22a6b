#ifndef TALLSNAP_APP_CREATION_H
#define TALLSNAP_APP_CREATION_H

// The main window's one-time work once its controls exist: remembered settings, the format
// list, the start layout and the start-up timer.
void PrepareMainWindow();
// The one-shot start-up tick of the main window's timer 0: starts the converter, finds its
// window, makes the range window's surfaces and only then enables the range button.
void ConnectConverter();

#endif
