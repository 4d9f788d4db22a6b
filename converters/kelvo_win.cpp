// Kelvo.exe: TallSnap's converter. A hidden top-level window that shows the save dialog and
// turns hand-off BMPs into JPEG, PNG or BMP files, as TallSnap asks through window messages.
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "converters/convert_win.h"
#include "converters/kelvo_core.h"
#include "converters/resource_count_win.h"

namespace {

HWND glKelvoWnd;
SaveRequest glSaveRequest;
std::string glOutputPath;  // named by the conversion request, waiting for its hand-off BMP
bool glHaveOutputPath;
// Set on WM_DESTROY: a quit posted while a sent message is handled need not wake the wait below.
bool glQuitting;

// One line of the debugger output: what Kelvo refused or could not do, and why.
void DebugLine(const std::string& text) { OutputDebugStringA(("Kelvo: " + text + "\r\n").c_str()); }

// Handles of 64-bit windows are 32-bit values, sign-extended.
HWND WindowFromValue(uint32_t value) { return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(value))); }

void SendReply(HWND owner, const char* path) {
  COPYDATASTRUCT reply{kReplyItem, path != nullptr ? static_cast<DWORD>(std::strlen(path) + 1) : 0u,
                       const_cast<char*>(path)};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(owner, WM_COPYDATA, reinterpret_cast<WPARAM>(glKelvoWnd), reinterpret_cast<LPARAM>(&reply),
                      SMTO_ABORTIFHUNG, 10000, &ignored);
}

// One showing of the save dialog: the chosen path in file, or false with the dialog's extended
// error (0 when the user cancelled).
bool RunSaveDialog(HWND owner, const SaveRequest& request, bool withName, bool withFolder, char (&file)[MAX_PATH],
                   DWORD& error) {
  std::memset(file, 0, sizeof file);
  if (withName) lstrcpynA(file, request.defaultName.c_str(), MAX_PATH);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = request.filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = withFolder && !request.folder.empty() ? request.folder.c_str() : nullptr;
  ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  const bool chosen = GetSaveFileNameA(&ofn) != 0;
  error = chosen ? 0 : CommDlgExtendedError();
  return chosen;
}

// The dialog leaves Kelvo's current directory alone: relative output paths resolve against it.
void ShowSaveDialog(const SaveRequest& request) {
  HWND owner = WindowFromValue(request.owner);
  if (!IsWindow(owner)) {
    DebugLine("save request from a window that does not exist");
    return;
  }
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
  // A dialog that fails is no cancel, and answering it like one loses the image: Windows refuses
  // a default name holding ":", "?" or "*", or one too long, before showing anything, and every
  // dialog fails when the chosen path does not fit its buffer. Each retry leaves out more of
  // what may have made it fail. Only the user's own cancel answers empty; a dialog that kept
  // failing gets no answer, which TallSnap takes for a converter that could not ask.
  static const struct {
    bool withName, withFolder;
    const char* next;
  } kAttempts[] = {{true, true, "shown again without the default name"},
                   {false, true, "shown again without the initial folder"},
                   {false, false, "not answered"}};
  char file[MAX_PATH] = {};
  bool chosen = false;
  DWORD error = 0;
  for (const auto& attempt : kAttempts) {
    chosen = RunSaveDialog(owner, request, attempt.withName, attempt.withFolder, file, error);
    if (chosen || error == 0) break;
    char line[128];
    std::snprintf(line, sizeof line, "save dialog failed (error 0x%04lX), %s", static_cast<unsigned long>(error),
                  attempt.next);
    DebugLine(line);
  }
  SetCurrentDirectoryA(cwd);
  if (chosen || error == 0) SendReply(owner, chosen ? file : nullptr);
}

void OnCopyData(WPARAM sender, const COPYDATASTRUCT* data) {
  if (data == nullptr) return;
  const CopyItem item = ClassifyCopyData(data->dwData, sender, data->cbData);
  if (item == CopyItem::Unknown) return DebugLine("unknown message");
  if (item == CopyItem::OutputPath) {
    std::string path;
    glHaveOutputPath = PayloadText(data->lpData, data->cbData, kMaxPathBytes - 1, path) && !path.empty() &&
                       std::memchr(data->lpData, 0, data->cbData) != nullptr;
    glOutputPath = glHaveOutputPath ? path : std::string();
    if (!glHaveOutputPath) DebugLine("output path missing or longer than 260 bytes");
    return;
  }
  const SaveStep step = AcceptSaveItem(glSaveRequest, item, data->lpData, data->cbData);
  if (step == SaveStep::Refused) return DebugLine("save request item out of order or malformed");
  if (step == SaveStep::Start) ShowSaveDialog(glSaveRequest);
}

// True when the output file was made: TallSnap stops waiting for it at once otherwise.
bool OnHandOffBmp(const char* bmpPath) {
  if (!glHaveOutputPath) {
    DebugLine("hand-off BMP without an output path");
    return false;
  }
  glHaveOutputPath = false;
  const size_t n = bmpPath != nullptr ? strnlen(bmpPath, kMaxPathBytes) : kMaxPathBytes;
  if (n == 0 || n >= kMaxPathBytes) {
    DebugLine("hand-off BMP path missing or too long");
    return false;
  }
  std::string error;
  if (ConvertBmpFile(std::string(bmpPath, n), glOutputPath, ReadQualityFile(), error)) return true;
  DebugLine(error);
  return false;
}

LRESULT CALLBACK KelvoWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA: OnCopyData(wParam, reinterpret_cast<const COPYDATASTRUCT*>(lParam)); return TRUE;
    // The text names the hand-off BMP; the window keeps its own title.
    case WM_SETTEXT: return OnHandOffBmp(reinterpret_cast<const char*>(lParam)) ? TRUE : FALSE;
    case kKelvoCountsMessage: return wParam <= 2 ? OwnResourceCount(static_cast<Resource>(wParam)) : 0;
    case WM_DESTROY:
      glQuitting = true;
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

// The process that started Kelvo; when it is gone, so is the reason to run.
HANDLE OpenStarter() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  DWORD parent = 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  return parent != 0 ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
}

void RunUntilQuitOrStarterGone(HANDLE starter) {
  for (;;) {
    const DWORD count = starter != nullptr ? 1 : 0;
    const DWORD r = MsgWaitForMultipleObjects(count, &starter, FALSE, INFINITE, QS_ALLINPUT);
    if (count == 1 && r == WAIT_OBJECT_0) return;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (glQuitting) return;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = KelvoWndProc;
  wc.hInstance = instance;
  wc.lpszClassName = "KelvoConverter";
  RegisterClassExA(&wc);
  // Hidden, no taskbar button, yet an ordinary top-level window that a walk of the window list finds.
  glKelvoWnd = CreateWindowExA(WS_EX_TOOLWINDOW, "KelvoConverter", KELVO_WINDOW_TITLE, WS_POPUP, 0, 0, 1, 1, nullptr,
                               nullptr, instance, nullptr);
  HANDLE starter = OpenStarter();
  if (glKelvoWnd != nullptr) RunUntilQuitOrStarterGone(starter);
  if (starter != nullptr) CloseHandle(starter);
  CoUninitialize();
  return 0;
}
