// The 24-bit BMP file layout TallSnap writes and its converters read back.
#ifndef TALLSNAP_SHARED_BMP_H
#define TALLSNAP_SHARED_BMP_H

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kBmpHeaderBytes = 54;

// 3 x width bytes plus the zero padding that makes a row a multiple of 4 bytes.
inline uint32_t Bmp24RowBytes(uint32_t width) { return (3 * width + 3) & ~3u; }

// The whole file: header, then height rows in file order (the first is the image's bottom
// row). Row i of the file starts at firstFileRow + i x stride; each pixel is blue, green, red
// (and, for 4 bytes per pixel, a fourth byte that is dropped).
std::vector<uint8_t> Bmp24FileBytes(const uint8_t* firstFileRow, ptrdiff_t stride, int bytesPerPixel, uint32_t width,
                                    uint32_t height, uint32_t reserved);

#endif
