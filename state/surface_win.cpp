#include "state/surface.h"

#include <string>

#include "state/state.h"

namespace {

// Undoes a partly made surface and tells the user; the one failure path of CreateSurface.
int FailSurface(Surface& s, HDC screen) {
  if (s.view != nullptr) UnmapViewOfFile(s.view);
  if (s.mapping != nullptr) CloseHandle(s.mapping);
  if (s.memDC != nullptr) DeleteDC(s.memDC);
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  if (s.file != nullptr) CloseHandle(s.file);
  s = Surface{};
  MessageBoxA(glMainWnd, "メモリが不足しています。\r\n", "<(_ _)>", MB_OK);
  return 0;
}

HANDLE CreateBackingFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

HANDLE CreatePixelMapping(HANDLE file, DWORD bytes, const std::string& name) {
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, bytes, name.c_str());
  if (mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another running copy owns this name: the named object would be its pixels, not our file.
    CloseHandle(mapping);
    mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, bytes, nullptr);
  }
  return mapping;
}

}  // namespace

int CreateSurface(Surface& s, const char* name, int number, int width, int height, WORD bitCount) {
  if (s.memDC != nullptr) return 0;
  if (!SurfaceSizeValid(width, height)) return FailSurface(s, nullptr);
  s.width = width;
  s.height = height;

  HDC screen = GetDC(nullptr);
  s.memDC = CreateCompatibleDC(screen);
  s.file = CreateBackingFile(SurfaceFileName(name, number));
  if (s.memDC == nullptr || s.file == nullptr) return FailSurface(s, screen);
  s.mapping = CreatePixelMapping(s.file, static_cast<DWORD>(SurfaceMappingBytes(width, height)),
                                 SurfaceMappingName(name, number));
  if (s.mapping == nullptr) return FailSurface(s, screen);
  s.view = MapViewOfFile(s.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (s.view == nullptr) return FailSurface(s, screen);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: bottom-up rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bitCount;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;  // the same bytes as view
  s.bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, s.mapping, 0);
  if (s.bitmap == nullptr) return FailSurface(s, screen);

  s.prevBitmap = static_cast<HBITMAP>(SelectObject(s.memDC, s.bitmap));
  ReleaseDC(nullptr, screen);
  s.dibBytes = SurfaceDibBytes(width, height);
  return 1;
}

int ReleaseSurface(Surface& s) {
  if (s.memDC == nullptr) return 0;
  // Every step runs even when one fails, so that no handle outlives the record.
  int ok = 1;
  if (s.mapping != nullptr) {
    if (!UnmapViewOfFile(s.view)) ok = 0;
    if (!CloseHandle(s.mapping)) ok = 0;
  }
  if (SelectObject(s.memDC, s.prevBitmap) == nullptr) ok = 0;
  if (!DeleteDC(s.memDC)) ok = 0;
  if (!DeleteObject(s.bitmap)) ok = 0;
  if (s.file != nullptr && !CloseHandle(s.file)) ok = 0;
  s = Surface{};
  return ok;
}
