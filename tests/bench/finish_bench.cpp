// "終わる" on a 1914 x 4000 capture, under Wine with the real Kelvo.exe: the whole command per
// output mode, and its parts (trim, BMP write, hand-off and conversion), beside one plain
// write of as many bytes.   finish_bench.exe FOLDER
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/main_wnd.h"
#include "app/main_wnd_core.h"
#include "app/start_up.h"
#include "output/finish_core.h"
#include "output/handoff.h"
#include "shared/bmp.h"
#include "state/state.h"

namespace {

constexpr int kW = 1914, kRows = 4000;

double Ms(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

template <typename F>
double Time(F f) {
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  f();
  QueryPerformanceCounter(&t1);
  return Ms(t0, t1);
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// A capture as the stitching leaves it: document rows, black below row kRows - 10.
void MakeCapture() {
  glHanniWidth = kW;
  glHanniHeight = 1074;
  CreateSurface(glBufDC, "TallSnap_glBufDC", 0, kW + 6, 4006, 32);
  CreateSurface(glSmallBufDC, "TallSnap_glSmallBufDC", 0, kW + 6, 1080, 32);
  for (int y = 0; y < kRows - 10; ++y) {
    uint32_t* row = SurfacePixel(glBufDC, 0, y);
    for (int x = 0; x < kW; ++x) {
      uint32_t h = static_cast<uint32_t>(y) * 2654435761u ^ static_cast<uint32_t>(x) * 40503u;
      h ^= h >> 15;
      row[x] = (y / 6) % 3 != 2 && x > 200 && x < kW - 200 && h % 11 == 0 ? 0x00202020u : 0x00FFFFFFu;
    }
  }
  glScrollY = kRows - 10;
  ShowCaptureLayout();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string folder = argv[1];
  char self[MAX_PATH];
  std::string exeFolder(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  exeFolder = exeFolder.substr(0, exeFolder.find_last_of('\\'));
  SetCurrentDirectoryA(folder.c_str());
  for (const char* converter : {"Kelvo.exe", "Tarvin.exe"})
    CopyFileA((exeFolder + "\\" + converter).c_str(), converter, FALSE);
  StartUp(GetModuleHandleA(nullptr));
  for (int i = 0; i < 1000 && (glConverterWnd == nullptr || glHanniMemBeforeDC.memDC == nullptr); ++i) {
    Pump();
    Sleep(20);
  }
  if (glConverterWnd == nullptr) return 1;
  lstrcpyA(glDesktopPath, folder.c_str());
  SendMessageA(GetDlgItem(glMainWnd, kIdDesktopCheck), BM_SETCHECK, BST_CHECKED, 0);

  // The parts, on one capture.
  MakeCapture();
  const int height = glScrollY.load();
  Surface cut{};
  CreateSurface(cut, "TallSnap_CutDC", 0, kW, height, 32);
  BitBlt(cut.memDC, 0, 0, kW + 6, height, glBufDC.memDC, 0, 0, SRCCOPY);
  GdiFlush();
  const uint32_t* pixels = static_cast<const uint32_t*>(cut.view);
  const double bmp = Time([&] { BmpSaveByDIBS(folder + "\\part.bmp", pixels, kW, height, 0); });
  const std::vector<uint8_t> bytes(static_cast<size_t>(54) + static_cast<size_t>(Bmp24RowBytes(kW)) * height, 0x7F);
  const double plain = Time([&] {
    HANDLE f = CreateFileA((folder + "\\plain.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
  });
  std::string problem;
  const double jpg = Time([&] { HandOffImage(folder + "\\part.jpg", pixels, kW, height, 100, problem); });
  const double png = Time([&] { HandOffImage(folder + "\\part.png", pixels, kW, height, 100, problem); });
  ReleaseSurface(cut);
  ReleaseSurface(glBufDC);
  ReleaseSurface(glSmallBufDC);
  std::printf("image %d x %d, BMP %zu bytes\n", kW, height, bytes.size());
  std::printf("part bmp-write %.1f\n", bmp);
  std::printf("part plain-write %.1f\n", plain);
  std::printf("part hand-off+convert jpg %.1f (of which a fixed 200 ms pause)\n", jpg);
  std::printf("part hand-off+convert png %.1f (of which a fixed 200 ms pause)\n", png);

  const struct {
    const char* name;
    const char* format;
  } modes[] = {{"jpg", "jpg"}, {"png", "png"}, {"bmp", "bmp"}, {"all-three", "3"}};
  for (const auto& m : modes) {
    MakeCapture();
    SendMessageA(GetDlgItem(glMainWnd, kIdFormatBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m.format));
    SendMessageA(GetDlgItem(glMainWnd, kIdNameBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("bench"));
    std::printf("finish %s %.1f\n", m.name, Time([] {
                  SendMessageA(glMainWnd, WM_COMMAND, MAKEWPARAM(kIdFinishButton, BN_CLICKED), 0);
                }));
  }
  DestroyWindow(glMainWnd);
  return 0;
}
