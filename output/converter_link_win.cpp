#include "output/converter_link.h"

#include <windows.h>
#include <shellapi.h>

#include "shared/converter_protocol.h"
#include "state/state.h"

namespace {

// The maker's page, where the newest version is offered.
constexpr const char* kLatestVersionPage = "https://tallsnap.example/latest";

// How long the converter may take to show its window, and the pause between two passes of the
// search; a converter that never appears must not hold TallSnap for good.
constexpr DWORD kConverterSearchMs = 6000;
constexpr DWORD kSearchPauseMs = 20;
constexpr int kWindowsPerPass = 1281;

HWND FindTitledWindow(HWND from, UINT direction, const char* title) {
  HWND current = from;
  for (int step = 0; step < kWindowsPerPass; ++step) {
    current = GetWindow(current, direction);
    if (current == nullptr) return nullptr;  // off the end of the list: nothing more this pass
    // GetWindowText reads another program's title without sending it a message, so a hung
    // window in the list cannot stop the search.
    char text[1256] = {};
    if (GetWindowTextA(current, text, sizeof text) == 0) continue;
    if (lstrcmpA(text, title) == 0) return current;
  }
  return nullptr;
}

}  // namespace

bool ShellOpen(const char* file, const char* parameters) {
  return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", file, parameters, nullptr, SW_SHOWNORMAL)) > 32;
}

bool LaunchAndFindWindow(HWND& handleVar, const char* file, const char* title) {
  if (!ShellOpen(file, nullptr)) return false;  // nothing started: nothing to wait for
  Sleep(200);
  const DWORD start = GetTickCount();
  UINT direction = GW_HWNDPREV;  // up from the topmost main window first, then down
  for (;;) {
    HWND found = FindTitledWindow(glMainWnd, direction, title);
    if (found != nullptr) {
      handleVar = found;
      return true;
    }
    if (GetTickCount() - start >= kConverterSearchMs) return false;
    direction = direction == GW_HWNDPREV ? GW_HWNDNEXT : GW_HWNDPREV;
    Sleep(kSearchPauseMs);
  }
}

bool EnsureConverter() {
  char title[sizeof KELVO_WINDOW_TITLE + 1] = {};
  // A handle can be reused by another window once the converter's is gone: the title tells.
  if (glConverterWnd != nullptr && IsWindow(glConverterWnd) && GetWindowTextA(glConverterWnd, title, sizeof title) > 0 &&
      lstrcmpA(title, KELVO_WINDOW_TITLE) == 0)
    return true;
  glConverterWnd = nullptr;
  for (UINT direction : {GW_HWNDPREV, GW_HWNDNEXT}) {
    HWND found = FindTitledWindow(glMainWnd, direction, KELVO_WINDOW_TITLE);
    if (found != nullptr) {
      glConverterWnd = found;
      return true;
    }
  }
  HWND started = nullptr;
  if (GetFileAttributesA("Kelvo.exe") == INVALID_FILE_ATTRIBUTES) return false;
  if (!LaunchAndFindWindow(started, "Kelvo.exe", KELVO_WINDOW_TITLE)) return false;
  glConverterWnd = started;
  return true;
}

void OpenLatestVersionPage() {
  ShellExecuteA(glMainWnd, "open", kLatestVersionPage, nullptr, nullptr, SW_SHOWNORMAL);
}
