#include "app/start_up.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>

#include "app/main_wnd.h"
#include "app/main_wnd_core.h"
#include "range/range_wnd.h"
#include "settings/files.h"
#include "state/state.h"

namespace {

constexpr int kIconResource = 101;

void RegisterProgramClass(const char* name, WNDPROC procedure, HICON large, HICON small, HBRUSH background) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hIcon = large;
  wc.hIconSm = small;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  RegisterClassExA(&wc);
}

HICON StandardIcon(LPCSTR id) { return LoadIconA(nullptr, id); }

}  // namespace

HFONT CreateProgramFont(int dpi) {
  return CreateFontA(ScaleToDpi(kFontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                     OUT_STROKE_PRECIS, CLIP_STROKE_PRECIS, DRAFT_QUALITY, FF_SWISS | DEFAULT_PITCH, "ＭＳ Ｐゴシック");
}

void StartUp(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  // The main window opens on the main screen, at its scale; the window's creation makes the
  // font anew should its own DPI turn out otherwise.
  glMainDpi = WindowDpi(nullptr);
  glMainFont = CreateProgramFont(glMainDpi);
  glHanniFont = CreateProgramFont(glMainDpi);
  glFaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  glCyanBrush = CreateSolidBrush(RGB(0, 255, 255));
  RegisterProgramClass("NORMALDLG", DefWindowProcA, StandardIcon(IDI_APPLICATION), StandardIcon(IDI_WINLOGO),
                       glFaceBrush);
  GetCurrentDirectoryA(260, glStartDir);
  glVirtualW = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  glVirtualH = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  glVirtualX = GetSystemMetrics(SM_XVIRTUALSCREEN);
  glVirtualY = GetSystemMetrics(SM_YVIRTUALSCREEN);
  glDisplayDC = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  glBufMaxH = 4000;
  SHGetSpecialFolderPathA(nullptr, glDesktopPath, CSIDL_DESKTOP, FALSE);
  CreateDirectoryA(kSettingsFolder, nullptr);
  CreateDirectoryA(kScratchFolder, nullptr);
  std::memset(SentakuFileName, 0, sizeof SentakuFileName);
  glBorder = 3;
  glArrowCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  glCrossCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_CROSS));

  HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
  HICON smallIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(kIconResource), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  RegisterProgramClass("NORMAL0", MainWndProc, icon, smallIcon, glCyanBrush);
  CreateWindowExA(WS_EX_TOPMOST, "NORMAL0", TALLSNAP_MAIN_TITLE, WS_VISIBLE | WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW,
                  CW_USEDEFAULT, CW_USEDEFAULT, ScaleToDpi(kMainWndWidth, glMainDpi),
                  ScaleToDpi(kMainWndHeight, glMainDpi), nullptr, nullptr, instance, nullptr);

  RegisterProgramClass("NORMAL1", HanniWndProc, StandardIcon(IDI_APPLICATION), StandardIcon(IDI_WINLOGO), glFaceBrush);
  CreateWindowExA(WS_EX_CLIENTEDGE | WS_EX_TOPMOST, "NORMAL1", "HanniWnd", WS_CLIPCHILDREN | WS_CAPTION | WS_THICKFRAME,
                  CW_USEDEFAULT, CW_USEDEFAULT, 662, 558, nullptr, nullptr, instance, nullptr);
}

void RunMessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}
