#ifndef TALLSNAP_SHARED_HANDOFF_FILES_H
#define TALLSNAP_SHARED_HANDOFF_FILES_H

// Files TallSnap and the converters exchange in TallSnap's working folder: the image handed to
// Kelvo.exe, what an older converter left there, and the JPEG quality both converters read.
constexpr const char* kHandOffBmpFile = "■ToJpgBmpForKelvo.bmp";
constexpr const char* kHandOffJpgFile = "■ToJpgJpgForOndel.jpg";
constexpr const char* kHandOffPngFile = "■ToJpgJpgForOndel.png";
constexpr const char* kQualityFile = "ForTarvin.txt";

#endif
