#include "converters/resource_count_win.h"

namespace {

// Wine answers 0 to GetGuiResources and GetProcessHandleCount even from inside the process;
// there the objects are counted by asking each possible handle value what it is. Wine takes
// a GDI or USER handle by its low 16 bits alone, and hands out kernel handles from the lowest
// free multiple of 4, so the walk of those ends after a long run of unused values.
DWORD ProbeGdiObjects() {
  DWORD n = 0;
  for (UINT_PTR h = 1; h <= 0xFFFF; ++h) n += GetObjectType(reinterpret_cast<HGDIOBJ>(h)) != 0;
  return n;
}

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<DWORD*>(count);
  return TRUE;
}

BOOL CALLBACK CountOwnWindowTree(HWND window, LPARAM count) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  ++*reinterpret_cast<DWORD*>(count);
  EnumChildWindows(window, CountWindow, count);
  return TRUE;
}

// Windows (top-level, message-only and their children) and menus: what a dialog or a window
// left behind would leak.
DWORD ProbeUserObjects() {
  DWORD n = 0;
  EnumWindows(CountOwnWindowTree, reinterpret_cast<LPARAM>(&n));
  for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w != nullptr;
       w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr))
    CountOwnWindowTree(w, reinterpret_cast<LPARAM>(&n));
  for (UINT_PTR h = 0x20; h <= 0xFFFF; h += 2) n += IsMenu(reinterpret_cast<HMENU>(h)) != FALSE;
  return n;
}

DWORD ProbeKernelHandles() {
  constexpr UINT_PTR kUnusedRun = 4096;
  DWORD n = 0;
  UINT_PTR unused = 0;
  for (UINT_PTR h = 4; unused < kUnusedRun && h < (UINT_PTR{1} << 26); h += 4) {
    DWORD flags = 0;
    const bool live = GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) != FALSE;
    n += live;
    unused = live ? 0 : unused + 1;
  }
  return n;
}

}  // namespace

DWORD OwnResourceCount(Resource what) {
  DWORD n = 0;
  switch (what) {
    case Resource::Gdi: n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); return n != 0 ? n : ProbeGdiObjects();
    case Resource::User: n = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS); return n != 0 ? n : ProbeUserObjects();
    case Resource::Handles:
      if (!GetProcessHandleCount(GetCurrentProcess(), &n)) n = 0;
      return n != 0 ? n : ProbeKernelHandles();
  }
  return 0;
}
