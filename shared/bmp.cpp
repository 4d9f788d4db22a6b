#include "shared/bmp.h"

#include <cstring>

namespace {
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
}  // namespace

std::vector<uint8_t> Bmp24FileBytes(const uint8_t* firstFileRow, ptrdiff_t stride, int bytesPerPixel, uint32_t width,
                                    uint32_t height, uint32_t reserved) {
  const uint32_t rowBytes = Bmp24RowBytes(width);
  std::vector<uint8_t> file(kBmpHeaderBytes + static_cast<size_t>(rowBytes) * height, 0);
  uint8_t* h = file.data();
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, static_cast<uint32_t>(file.size()));
  Put32(h + 6, reserved);
  Put32(h + 10, kBmpHeaderBytes);
  Put32(h + 14, 40);
  Put32(h + 18, width);
  Put32(h + 22, height);  // positive: bottom-up
  Put16(h + 26, 1);
  Put16(h + 28, 24);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* src = firstFileRow + static_cast<ptrdiff_t>(y) * stride;
    uint8_t* dst = h + kBmpHeaderBytes + static_cast<size_t>(y) * rowBytes;
    if (bytesPerPixel == 3) {
      std::memcpy(dst, src, 3 * static_cast<size_t>(width));
      continue;
    }
    for (uint32_t x = 0; x < width; ++x, src += bytesPerPixel, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    }
  }
  return file;
}
