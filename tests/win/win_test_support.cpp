#include "win_test_support.h"

#include <tlhelp32.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_wnd_core.h"
#include "app/start_up.h"
#include "converters/resource_count_win.h"
#include "state/state.h"

std::string MakeTempFolder() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  static LONG counter = 0;
  for (;;) {
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%stallsnap-test-%lu-%ld", base, GetCurrentProcessId(),
                  InterlockedIncrement(&counter));
    if (CreateDirectoryA(name, nullptr)) return name;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
}

void RemoveFolderTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string full = path + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveFolderTree(full);
      else
        DeleteFileA(full.c_str());
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

std::string ExeFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/"));
}

std::string ReadFileBytes(const std::string& path) {
  // Sharing writes too: a child that wrote the file may not have closed it the moment it ended.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
  CloseHandle(file);
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

bool FolderExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - start >= timeoutMs) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

long CountInProgramImage(HANDLE process, DWORD pid, char b) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  bool found = false;
  for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
    const size_t n = std::strlen(module.szModule);
    found = n > 4 && lstrcmpiA(module.szModule + n - 4, ".exe") == 0;
    if (found) break;
  }
  CloseHandle(snapshot);
  if (!found) return -1;
  BYTE* at = module.modBaseAddr;
  BYTE* const end = at + module.modBaseSize;
  long count = 0;
  std::vector<char> bytes;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQueryEx(process, at, &info, sizeof info) == 0) return -1;
    BYTE* const regionEnd = std::min(static_cast<BYTE*>(info.BaseAddress) + info.RegionSize, end);
    if (info.State == MEM_COMMIT && (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) == 0) {
      bytes.resize(static_cast<size_t>(regionEnd - at));
      SIZE_T got = 0;
      if (!ReadProcessMemory(process, at, bytes.data(), bytes.size(), &got)) return -1;
      count += static_cast<long>(std::count(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(got), b));
    }
    at = regionEnd;
  }
  return count;
}

COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 1, 1);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, 1, 1, screen, x, y, SRCCOPY);
  const COLORREF c = GetPixel(mem, 0, 0);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return c;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

namespace {

struct WindowSearch {
  DWORD pid;
  const char* cls;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (pid == search->pid && lstrcmpA(cls, search->cls) == 0 && (!search->visibleOnly || IsWindowVisible(window))) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND FindProcessWindow(DWORD pid, const char* className, bool visibleOnly) {
  WindowSearch search{pid, className, visibleOnly, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

DialogAnswerer::DialogAnswerer() {
  worker = std::thread([this] {
    HWND answered = nullptr;
    while (!stop) {
      HWND box = FindProcessWindow(GetCurrentProcessId(), "#32770", true);
      if (box != nullptr && box != answered) {
        char caption[512] = {}, text[2048] = {};
        GetWindowTextA(box, caption, sizeof caption);
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the message box's text
        {
          std::lock_guard<std::mutex> guard(lock);
          seen.push_back({caption, text});
        }
        answered = box;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button.load(), BN_CLICKED), 0);
      }
      Sleep(20);
    }
  });
}

DialogAnswerer::~DialogAnswerer() {
  stop = true;
  worker.join();
}

std::vector<SeenDialog> DialogAnswerer::Seen() {
  std::lock_guard<std::mutex> guard(lock);
  return seen;
}

bool DialogAnswerer::WaitForCount(size_t n, DWORD timeoutMs) {
  return PumpUntil([&] { return Seen().size() >= n; }, timeoutMs);
}

std::string WindowsPathOf(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

int RunUnix(const std::string& commandLine, DWORD timeoutMs) {
  // The handle Wine gives for a Linux process is signalled at once, not when the program ends:
  // a shell runs it and leaves its exit code in a file, which is what is waited for. The
  // program's arguments reach it untouched, as "$@".
  static LONG counter = 0;
  const std::string marker = "/tmp/tallsnap-run-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(InterlockedIncrement(&counter));
  const std::string windowsMarker = WindowsPathOf(marker);
  std::string line = "/bin/sh -c \"\\\"$@\\\"; echo $? > " + marker + ".part && mv " + marker + ".part " + marker +
                     "\" sh " + commandLine;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  int code = -1;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    const std::string written = ReadFileBytes(windowsMarker);
    if (written != "<missing>") {
      code = std::atoi(written.c_str());
      break;
    }
    Sleep(5);
  }
  DeleteFileA(windowsMarker.c_str());
  return code;
}

bool DecodeImageFile(const std::string& path, Picture& picture) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring wide(path.size() + 1, L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0],
                                                      static_cast<int>(wide.size()))) - 1);
  IWICImagingFactory* factory = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr))
    hr = factory->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                            &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr))
    hr = converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                               WICBitmapPaletteTypeCustom);
  if (SUCCEEDED(hr)) hr = converter->GetSize(&picture.width, &picture.height);
  if (SUCCEEDED(hr)) {
    picture.bgr.assign(static_cast<size_t>(picture.width) * picture.height * 3, 0);
    hr = converter->CopyPixels(nullptr, picture.width * 3, static_cast<UINT>(picture.bgr.size()), picture.bgr.data());
  }
  if (converter != nullptr) converter->Release();
  if (frame != nullptr) frame->Release();
  if (decoder != nullptr) decoder->Release();
  if (factory != nullptr) factory->Release();
  return SUCCEEDED(hr);
}

double Psnr(const Picture& a, const Picture& b) {
  if (a.bgr.size() != b.bgr.size() || a.bgr.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.bgr.size(); ++i) {
    const double d = static_cast<double>(a.bgr[i]) - b.bgr[i];
    sum += d * d;
  }
  if (sum == 0) return 999;
  return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.bgr.size())));
}

bool StartTallSnapIn(const std::string& folder) {
  SetCurrentDirectoryA(folder.c_str());
  for (const char* converter : {"Kelvo.exe", "Tarvin.exe"})
    CopyFileA((ExeFolder() + "\\" + converter).c_str(), converter, FALSE);
  StartUp(GetModuleHandleA(nullptr));
  return PumpUntil(
      [] {
        return glConverterWnd != nullptr && glHanniMemBeforeDC.memDC != nullptr &&
               IsWindowEnabled(GetDlgItem(glMainWnd, kIdRangeButton));
      },
      20000);
}

namespace {

// The dialog's one edit box: the file name, inside its combobox.
BOOL CALLBACK FindEdit(HWND child, LPARAM param) {
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, "Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(param) = child;
  return FALSE;
}

HWND FileNameEdit(HWND dialog) {
  HWND edit = nullptr;
  EnumChildWindows(dialog, FindEdit, reinterpret_cast<LPARAM>(&edit));
  return edit;
}

// Hands the keyboard to the dialog, then waits until it is the active window. A click does not
// always make another process's dialog active here, and with no window manager nobody else hands
// it the keyboard: do what one would, through the X window Wine keeps for it. Keys pressed before
// it is active go to whatever has the focus. False when it never became active.
bool KeyboardTo(HWND dialog) {
  const uintptr_t xWindow = reinterpret_cast<uintptr_t>(GetPropA(dialog, "__wine_x11_whole_window"));
  const std::string x = std::to_string(xWindow);
  for (int attempt = 0; attempt < 5 && IsWindow(dialog); ++attempt) {
    if (xWindow != 0) RunUnix("/usr/bin/xdotool windowraise " + x + " windowfocus " + x, 10000);
    const DWORD t = GetTickCount();
    while (GetTickCount() - t < 2000) {
      if (GetForegroundWindow() == dialog) return true;
      Sleep(20);
    }
  }
  return false;
}

}  // namespace

void DialogDriver::Run() {
  HWND dialog = nullptr;
  const DWORD start = GetTickCount();
  while (dialog == nullptr && GetTickCount() - start < 20000) {
    dialog = FindProcessWindow(kelvoPid, "#32770", true);
    if (dialog == nullptr) Sleep(50);
  }
  if (dialog == nullptr) return;
  sawDialog = true;
  dialogOwner = GetWindow(dialog, GW_OWNER);
  char title[256] = {};
  GetWindowTextA(dialog, title, sizeof title);
  dialogTitle = title;
  // Keys go to the window under the pointer while no window holds the X focus: a point low in the
  // dialog, clear of the topmost main window that may lie over its top.
  RECT r{};
  GetWindowRect(dialog, &r);
  const std::string move = "/usr/bin/xdotool mousemove " + std::to_string(r.left + 40) + " " +
                           std::to_string(r.top + (r.bottom - r.top) * 2 / 3);
  RunUnix(move, 10000);
  HWND edit = FileNameEdit(dialog);
  char shown[MAX_PATH] = {};
  SendMessageTimeoutA(edit, WM_GETTEXT, sizeof shown, reinterpret_cast<LPARAM>(shown), SMTO_ABORTIFHUNG, 2000, nullptr);
  initialText = shown;
  const auto keys = [&](const std::string& xdotoolArgs) {
    if (KeyboardTo(dialog)) {
      RunUnix("/usr/bin/xdotool " + xdotoolArgs, 30000);
      return true;
    }
    if (!troubleShot.empty() && GetFileAttributesA(WindowsPathOf(troubleShot).c_str()) == INVALID_FILE_ATTRIBUTES)
      RunUnix("/usr/bin/import -window root " + troubleShot, 20000);
    return false;
  };
  if (!typed.empty()) {
    auto textBecomes = [&](const std::string& want) {
      const DWORD t = GetTickCount();
      for (;;) {
        char text[MAX_PATH] = {};
        SendMessageTimeoutA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                            nullptr);
        lastText = text;
        if (want == text) return true;
        if (GetTickCount() - t >= 3000) return false;
        Sleep(50);
      }
    };
    // Clicked first, so that the box has the dialog's focus.
    RECT box{};
    GetWindowRect(edit, &box);
    const std::string click = "/usr/bin/xdotool mousemove " + std::to_string((box.left + box.right) / 2) + " " +
                              std::to_string((box.top + box.bottom) / 2) + " click 1";
    for (int attempt = 0; attempt < 5 && !textMatched; ++attempt) {
      RunUnix(click, 10000);
      if (!keys("key End shift+Home BackSpace")) break;
      if (!textBecomes("")) continue;
      if (!keys("type --delay 30 " + typed)) break;
      textMatched = textBecomes(typed);
    }
  }
  // Enter to save what was typed, Escape to cancel; again until the dialog is gone.
  const std::string key = textMatched ? "Return" : "Escape";
  for (int attempt = 0; attempt < 20 && IsWindow(dialog); ++attempt) {
    if (!keys("key " + key)) break;
    const DWORD t = GetTickCount();
    while (IsWindow(dialog) && GetTickCount() - t < 1000) Sleep(20);
  }
  // The keys never arrived: cancel the dialog directly so that the test fails instead of
  // waiting for ever on a dialog nobody answers.
  if (IsWindow(dialog)) {
    forcedClose = true;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

ResourceCounts OwnResourceCounts() {
  ResourceCounts counts;
  counts.gdi = static_cast<int>(OwnResourceCount(Resource::Gdi));
  counts.user = static_cast<int>(OwnResourceCount(Resource::User));
  counts.handles = static_cast<int>(OwnResourceCount(Resource::Handles));
  return counts;
}
