#ifndef TALLSNAP_OUTPUT_HANDOFF_FILES_H
#define TALLSNAP_OUTPUT_HANDOFF_FILES_H

// Files exchanged with the converter in the working folder.
constexpr const char* kHandOffBmpFile = "■ToJpgBmpForKelvo.bmp";
constexpr const char* kHandOffJpgFile = "■ToJpgJpgForOndel.jpg";
constexpr const char* kHandOffPngFile = "■ToJpgJpgForOndel.png";

#endif
