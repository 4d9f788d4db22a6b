// The link with the converter program Kelvo.exe.
#ifndef TALLSNAP_OUTPUT_CONVERTER_LINK_H
#define TALLSNAP_OUTPUT_CONVERTER_LINK_H

#include <windows.h>

// The one-shot start-up tick of the main window's timer 0: starts the converter, finds its
// window, makes the range window's surfaces and only then enables the range button.
void ConnectConverter();
// Starts file with the shell's "open", from the current directory.
void ShellOpen(const char* file, const char* parameters);
// Starts file and searches the window list for a window titled title, for a few seconds at
// most; true (and handleVar set) when it was found.
bool LaunchAndFindWindow(HWND& handleVar, const char* file, const char* title);
void OpenLatestVersionPage();

#endif
