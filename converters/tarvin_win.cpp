// Tarvin.exe: the converter from the command line.
//   Tarvin.exe IN.bmp OUT.jpg|OUT.png|OUT.bmp [quality]
// The quality (1 to 100) defaults to the one TallSnap leaves in "ForTarvin.txt".
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "converters/convert_win.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: Tarvin.exe IN.bmp OUT.jpg|OUT.png|OUT.bmp [quality 1-100]\n");
    return 2;
  }
  int quality = ReadQualityFile();
  if (argc == 4) {
    const std::string text = argv[3];
    quality = QualityFromText(text);
    if (std::to_string(quality) != text) {
      std::fprintf(stderr, "Tarvin: quality must be a number from 1 to 100: %s\n", argv[3]);
      return 2;
    }
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string error;
  const bool ok = ConvertBmpFile(argv[1], argv[2], quality, error);
  CoUninitialize();
  if (!ok) {
    std::fprintf(stderr, "Tarvin: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
