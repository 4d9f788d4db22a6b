// Reading BMPs and writing JPEG, PNG and BMP files with the platform's codecs (WIC), shared
// by Kelvo.exe and Tarvin.exe. COM must be initialised on the calling thread.
#ifndef TALLSNAP_CONVERTERS_CONVERT_WIN_H
#define TALLSNAP_CONVERTERS_CONVERT_WIN_H

#include <string>

#include "converters/bmp_image.h"
#include "converters/kelvo_core.h"

// The JPEG quality TallSnap leaves in "ForTarvin.txt" in the current directory; 100 when the
// file is missing or holds no usable number.
int ReadQualityFile();

// Writes the image in the format; the file appears only once it is complete, and a failure
// leaves neither it nor a temporary file behind. An existing file is never replaced.
bool WriteImageFile(const Image& image, const std::string& path, OutputFormat format, int quality,
                    std::string& error);

// Reads a BMP and writes it to outPath in the format its extension names.
bool ConvertBmpFile(const std::string& bmpPath, const std::string& outPath, int quality, std::string& error);

#endif
