// A 32-bit DIB section selected into a memory DC, its pixels in a file mapping over a file in
// the scratch folder, so that GDI can draw into it and the capture code can read it by address.
#ifndef TALLSNAP_STATE_SURFACE_H
#define TALLSNAP_STATE_SURFACE_H

#include <windows.h>

#include <cstdint>

#include "state/surface_layout.h"

struct Surface {
  int32_t width;
  int32_t height;
  HDC memDC;  // null while the surface is empty
  HBITMAP bitmap;
  HBITMAP prevBitmap;
  int32_t dibBytes;
  HANDLE mapping;
  void* view;
  HANDLE file;
};

// 1 on success, 0 when the surface already exists or could not be made (then the record is
// empty and the user has been told).
int CreateSurface(Surface& s, const char* name, int number, int width, int height, WORD bitCount);
// 1 when everything was released, 0 for an empty surface or a failed step.
int ReleaseSurface(Surface& s);

// Pixel (x, y), y = 0 being the top row.
inline uint32_t* SurfacePixel(const Surface& s, int x, int y) {
  return reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(s.view) + PixelOffset(s.width, s.height, x, y));
}

#endif
