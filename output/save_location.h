#ifndef TALLSNAP_OUTPUT_SAVE_LOCATION_H
#define TALLSNAP_OUTPUT_SAVE_LOCATION_H

#include <windows.h>

#include <string>

#include "output/finish_core.h"

// Asks Kelvo.exe's save dialog for a location.
SaveAnswer AskSaveLocation(HWND owner, const std::string& fileTypeText, const std::string& title,
                     const std::string& defaultName);

#endif
