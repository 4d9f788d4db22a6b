// Sizes, names and pixel addressing of the file-backed surfaces; no Windows types here.
#ifndef TALLSNAP_STATE_SURFACE_LAYOUT_H
#define TALLSNAP_STATE_SURFACE_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kBitmapInfoHeaderBytes = 40;
// Spare bytes after the pixels in every surface's mapping.
constexpr int kSurfaceSpareBytes = 1000;
// The folder of the surfaces' backing files, relative to the current directory.
constexpr const char* kScratchFolder = "ファイルマップフォルダ";
// Fixed buffer of the backing-file path.
constexpr size_t kPathBufBytes = 264;

// Whether a surface of this size can exist: positive sides and a mapping that fits the
// signed 32-bit byte counts the program keeps.
bool SurfaceSizeValid(int width, int height);

// 40 + 4 x width x height; the read bound of the stitching step.
inline int32_t SurfaceDibBytes(int width, int height) { return kBitmapInfoHeaderBytes + 4 * width * height; }
inline int32_t SurfaceMappingBytes(int width, int height) { return 4 * width * height + kSurfaceSpareBytes; }

// Rows are stored bottom-up with a stride of exactly 4 x width bytes.
inline size_t PixelOffset(int width, int height, int x, int y) {
  return 4 * (static_cast<size_t>(width) * static_cast<size_t>(height - 1 - y) + static_cast<size_t>(x));
}

// "ファイルマップフォルダ\<name><number>.txt", relative to the current directory.
std::string SurfaceFileName(const std::string& name, int number);
// "<name><number>", the name of the mapping object.
std::string SurfaceMappingName(const std::string& name, int number);

#endif
