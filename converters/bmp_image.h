// Images as the converters hold them, and the BMP reader that refuses anything it cannot
// read whole and safely.
#ifndef TALLSNAP_CONVERTERS_BMP_IMAGE_H
#define TALLSNAP_CONVERTERS_BMP_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Top-down rows of 3 x width bytes (blue, green, red), no padding.
struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bgr;
};

// Largest image the converters take: far beyond a 4000-row capture of any screen, small
// enough that every byte count fits 32 bits.
constexpr uint32_t kMaxImageSide = 32768;
constexpr uint64_t kMaxImagePixels = 1u << 28;

// Reads an uncompressed 24- or 32-bit BMP (bottom-up or top-down). On refusal returns false
// and says why in error.
bool ParseBmp(const uint8_t* bytes, size_t len, Image& image, std::string& error);

// The image as a 24-bit bottom-up BMP file.
std::vector<uint8_t> EncodeBmp(const Image& image);

#endif
