// The link with the converter program Kelvo.exe.
#ifndef TALLSNAP_OUTPUT_CONVERTER_LINK_H
#define TALLSNAP_OUTPUT_CONVERTER_LINK_H

#include <windows.h>

// Starts file with the shell's "open", from the current directory; false when it could not.
bool ShellOpen(const char* file, const char* parameters);
// Starts file and searches the window list for a window titled title, for a few seconds at
// most; true (and handleVar set) when it was found.
bool LaunchAndFindWindow(HWND& handleVar, const char* file, const char* title);
// Before each request to the converter: true when glConverterWnd is its window. A converter
// that started late, ended or was closed is searched for again and, when not found, started
// again, within the bound of the start-up search. Says nothing: the callers tell the user what
// they did instead.
bool EnsureConverter();
void OpenLatestVersionPage();

#endif
