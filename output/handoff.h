// Writing the finished image: BMP files by TallSnap itself, JPEG and PNG through Kelvo.exe.
#ifndef TALLSNAP_OUTPUT_HANDOFF_H
#define TALLSNAP_OUTPUT_HANDOFF_H

#include <cstdint>
#include <string>

// Writes a 24-bit BMP of a bottom-up 32-bit image. False when the file cannot be written (none
// is left behind then); the caller tells the user.
bool BmpSaveByDIBS(const std::string& path, const uint32_t* pixels, int width, int height, uint32_t reserved);

enum class HandOff {
  Written,     // the file is at path
  SavedAsBmp,  // the converter could not make it: a BMP of the image lies in the save folder, and the user was told where
  Failed,      // nothing was written; problem says why, for the user
};

// Writes the image to path in the format its extension names and returns once the file is
// there.
HandOff HandOffImage(const std::string& path, const uint32_t* pixels, int width, int height, int quality,
                     std::string& problem);

// Has the converter make path (any format it knows, also the relative "clpbd.bmp") from the
// image and waits for the file. False, with problem set, when it did not appear.
bool ConvertWithKelvo(const std::string& path, const uint32_t* pixels, int width, int height, std::string& problem);

// The image as a numbered BMP named after stemPath in the save folder (the desktop when that
// folder is not usable); tells the user why and where. False, with problem set, when it could
// not be written.
bool SaveFallbackBmp(const std::string& stemPath, const uint32_t* pixels, int width, int height, const char* why,
                     std::string& problem);

// Existence for numbering: any file counts, also one that cannot be opened.
bool PathIsTaken(const std::string& path);

#endif
