#ifndef TALLSNAP_OUTPUT_SAVE_LOCATION_H
#define TALLSNAP_OUTPUT_SAVE_LOCATION_H

#include <windows.h>

#include <string>

// Asks Kelvo.exe's save dialog for a location. Afterwards SentakuFileName[0] holds the chosen
// name (empty: no choice) and FileHozonFolderPath its folder. False when there is no converter
// to ask (nothing was changed then).
bool AskSaveLocation(HWND owner, const std::string& fileTypeText, const std::string& title,
                     const std::string& defaultName);

#endif
