// Writing the finished image: BMP files by TallSnap itself, JPEG and PNG through Kelvo.exe.
#ifndef TALLSNAP_OUTPUT_HANDOFF_H
#define TALLSNAP_OUTPUT_HANDOFF_H

#include <cstdint>
#include <string>

// Writes a 24-bit BMP of a bottom-up 32-bit image. False (and the user told) when the file
// cannot be written.
bool BmpSaveByDIBS(const std::string& path, const uint32_t* pixels, int width, int height, uint32_t reserved);

// Writes the image to path in the format its extension names and returns once the file is
// there: 1 then, 0 when the name is refused or the image went elsewhere (the user is told).
// When the converter cannot make the file, the image is written as a BMP in the save folder.
int HandOffImage(const std::string& path, const uint32_t* pixels, int width, int height, int quality);

// The image as a numbered BMP named after stemPath in the save folder (the desktop when that
// folder is not usable); says where, or that it could not. True when written.
bool SaveFallbackBmp(const std::string& stemPath, const uint32_t* pixels, int width, int height, const char* why);

// Existence for numbering: any file counts, also one that cannot be opened.
bool PathIsTaken(const std::string& path);

#endif
