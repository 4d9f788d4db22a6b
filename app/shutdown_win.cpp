#include "app/shutdown.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "capture/session.h"
#include "range/frame_wnd.h"
#include "settings/files.h"
#include "shared/handoff_files.h"
#include "state/state.h"

namespace {
// A converter that has stopped answering must not keep TallSnap from ending.
constexpr UINT kConverterEndTimeoutMs = 2000;
}  // namespace

void DeleteFolderFiles(const char* folder, bool keepFolder) {
  const std::string base = std::string(folder) + "\\";
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((base + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    DeleteFileA((base + entry.cFileName).c_str());  // "." and subfolders simply fail
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  if (!keepFolder) RemoveDirectoryA(folder);
}

void Shutdown() {
  glCapturing = 0;
  StopCaptureTimer();
  DeleteFileA(kHandOffBmpFile);
  DeleteFileA(kHandOffJpgFile);
  DeleteFileA(kHandOffPngFile);
  if (glConverterWnd != nullptr) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(glConverterWnd, WM_DESTROY, 0, 0, SMTO_ABORTIFHUNG, kConverterEndTimeoutMs, &ignored);
  }
  SaveSettings();
  std::memset(glNameHistory, 0, sizeof glNameHistory);
  Sleep(300);
  ReleaseSurface(glHanniMemDC);
  ReleaseSurface(glHanniMemBeforeDC);
  ReleaseSurface(glBufDC);
  ReleaseSurface(glSmallBufDC);
  ReleaseSurface(glSeenBufDC);
  DeleteDC(glDisplayDC);
  glDisplayDC = nullptr;
  DestroyWindow(glHanniWnd);
  DestroyRangeFrame();
  DeleteFolderFiles(kScratchFolder, false);
  DeleteObject(glMainFont);
  DeleteObject(glHanniFont);
  DeleteObject(glFaceBrush);
  DeleteObject(glCyanBrush);
  PostQuitMessage(0);
}
