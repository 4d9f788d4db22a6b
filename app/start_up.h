#ifndef TALLSNAP_APP_START_UP_H
#define TALLSNAP_APP_START_UP_H

#include <windows.h>

// Fills the shared state, creates the two folders, the main window and the hidden range window.
void StartUp(HINSTANCE instance);
// Runs until the quit message (or a failing GetMessageA).
void RunMessageLoop();
// The program's font, 12 pixels high at 96 DPI and as much larger as the DPI is.
HFONT CreateProgramFont(int dpi);

#endif
