#include "converters/bmp_image.h"

#include <cstring>

#include "shared/bmp.h"

namespace {

uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }

bool Refuse(std::string& error, const char* why) {
  error = why;
  return false;
}

}  // namespace

bool ParseBmp(const uint8_t* bytes, size_t len, Image& image, std::string& error) {
  if (len < 14 + 40) return Refuse(error, "not a BMP: too short");
  if (bytes[0] != 'B' || bytes[1] != 'M') return Refuse(error, "not a BMP: no BM signature");
  const uint32_t pixelOffset = Get32(bytes + 10);
  const uint32_t headerSize = Get32(bytes + 14);
  if (headerSize != 40 && headerSize != 108 && headerSize != 124) return Refuse(error, "unsupported BMP header");
  if (14ull + headerSize > len) return Refuse(error, "truncated BMP header");
  const int32_t width = static_cast<int32_t>(Get32(bytes + 18));
  const int32_t rawHeight = static_cast<int32_t>(Get32(bytes + 22));
  const uint32_t planes = Get16(bytes + 26);
  const uint32_t bitCount = Get16(bytes + 28);
  const uint32_t compression = Get32(bytes + 30);
  if (planes != 1) return Refuse(error, "BMP with more than one plane");
  if (bitCount != 24 && bitCount != 32) return Refuse(error, "unsupported BMP bit depth");
  // Bit fields are accepted only as the plain blue-green-red order of an uncompressed file.
  const bool plainFields = compression == 3 && bitCount == 32 && headerSize >= 52 &&
                           Get32(bytes + 54) == 0x00FF0000 && Get32(bytes + 58) == 0x0000FF00 &&
                           Get32(bytes + 62) == 0x000000FF;
  if (compression != 0 && !plainFields) return Refuse(error, "compressed BMP");
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return Refuse(error, "BMP without pixels");
  const bool topDown = rawHeight < 0;
  const uint32_t height = static_cast<uint32_t>(topDown ? -rawHeight : rawHeight);
  if (static_cast<uint32_t>(width) > kMaxImageSide || height > kMaxImageSide ||
      static_cast<uint64_t>(width) * height > kMaxImagePixels)
    return Refuse(error, "BMP too large");
  if (pixelOffset < 14 + headerSize || pixelOffset > len) return Refuse(error, "BMP pixel offset out of the file");
  const uint64_t stride = (static_cast<uint64_t>(width) * bitCount / 8 + 3) & ~3ull;
  if (pixelOffset + stride * height > len) return Refuse(error, "truncated BMP pixels");

  image.width = static_cast<uint32_t>(width);
  image.height = height;
  image.bgr.assign(static_cast<size_t>(width) * height * 3, 0);
  const uint32_t srcBytes = bitCount / 8;
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t fileRow = topDown ? y : height - 1 - y;
    const uint8_t* src = bytes + pixelOffset + stride * fileRow;
    uint8_t* dst = image.bgr.data() + static_cast<size_t>(y) * width * 3;
    if (srcBytes == 3) {
      std::memcpy(dst, src, static_cast<size_t>(width) * 3);
      continue;
    }
    for (int32_t x = 0; x < width; ++x, src += 4, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    }
  }
  return true;
}

std::vector<uint8_t> EncodeBmp(const Image& image) {
  const ptrdiff_t stride = static_cast<ptrdiff_t>(image.width) * 3;
  const uint8_t* bottomRow = image.bgr.data() + stride * (static_cast<ptrdiff_t>(image.height) - 1);
  return Bmp24FileBytes(bottomRow, -stride, 3, image.width, image.height, 0);
}
