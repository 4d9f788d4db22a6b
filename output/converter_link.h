// The link with the converter program Kelvo.exe.
#ifndef TALLSNAP_OUTPUT_CONVERTER_LINK_H
#define TALLSNAP_OUTPUT_CONVERTER_LINK_H

// The one-shot start-up tick of the main window's timer 0.
void ConnectConverter();
void OpenLatestVersionPage();

#endif
