#ifndef TALLSNAP_OUTPUT_SAVE_LOCATION_H
#define TALLSNAP_OUTPUT_SAVE_LOCATION_H

#include <windows.h>

#include <string>

enum class SaveAnswer {
  Chosen,       // SentakuFileName[0] holds the chosen name, FileHozonFolderPath its folder
  Cancelled,    // the user closed the dialog without a choice
  NoConverter,  // there is no converter to ask: nothing was changed
  NoReply,      // the converter never answered (hung, or refused the request): nothing was changed
};

// Asks Kelvo.exe's save dialog for a location.
SaveAnswer AskSaveLocation(HWND owner, const std::string& fileTypeText, const std::string& title,
                     const std::string& defaultName);

#endif
