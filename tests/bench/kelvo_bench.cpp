// Times Kelvo.exe from WM_SETTEXT to the output file being present, for a 1914 x 4000 capture,
// as JPEG and as PNG. Prints one line per format: "kelvo <format> <median ms> <min ms>".
//   kelvo_bench.exe FOLDER   (writes FOLDER\tall.bmp, which the caller may time other tools on)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "shared/bmp.h"

namespace {

// Document-like content: white page, dark strokes of text, a coloured band now and then.
std::vector<uint8_t> Page(uint32_t w, uint32_t h) {
  std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3, 255);
  uint32_t seed = 1;
  for (uint32_t y = 0; y < h; ++y) {
    const bool textLine = (y / 4) % 6 < 3;
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &bgr[(static_cast<size_t>(y) * w + x) * 3];
      seed = seed * 1103515245u + 12345u;
      if (textLine && x > 40 && x < w - 40 && (seed >> 16) % 5 == 0) p[0] = p[1] = p[2] = 30;
      if ((y / 500) % 3 == 1 && x < 200) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(y);
        p[2] = 200;
      }
    }
  }
  return bgr;
}

double Ms(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string folder = argv[1];
  const uint32_t w = 1914, h = 4000;
  const std::vector<uint8_t> bgr = Page(w, h);
  const ptrdiff_t stride = static_cast<ptrdiff_t>(w) * 3;
  const auto bmp = Bmp24FileBytes(bgr.data() + stride * (h - 1), -stride, 3, w, h, 0);
  const std::string bmpPath = folder + "\\tall.bmp";
  HANDLE file = CreateFileA(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bmp.data(), static_cast<DWORD>(bmp.size()), &written, nullptr);
  CloseHandle(file);
  HANDLE quality = CreateFileA((folder + "\\ForTarvin.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  WriteFile(quality, "100", 3, &written, nullptr);
  CloseHandle(quality);

  char self[MAX_PATH];
  std::string exe(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  exe = exe.substr(0, exe.find_last_of('\\') + 1) + "Kelvo.exe";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) return 1;
  HWND kelvo = nullptr;
  for (int i = 0; i < 300 && kelvo == nullptr; ++i) {
    kelvo = FindWindowA("KelvoConverter", nullptr);
    if (kelvo == nullptr) Sleep(20);
  }
  if (kelvo == nullptr) return 1;
  HWND self_window = CreateWindowExA(0, "STATIC", "bench", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);

  for (const char* ext : {"jpg", "png"}) {
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
      const std::string out = folder + "\\bench" + std::to_string(run) + "." + ext;
      DeleteFileA(out.c_str());
      char block[260] = {};
      lstrcpynA(block, out.c_str(), sizeof block);
      COPYDATASTRUCT data{reinterpret_cast<ULONG_PTR>(self_window), sizeof block, block};
      SendMessageA(kelvo, WM_COPYDATA, reinterpret_cast<WPARAM>(self_window), reinterpret_cast<LPARAM>(&data));
      LARGE_INTEGER t0, t1;
      QueryPerformanceCounter(&t0);
      SendMessageA(kelvo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(bmpPath.c_str()));
      while (GetFileAttributesA(out.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(1);
      QueryPerformanceCounter(&t1);
      times.push_back(Ms(t0, t1));
    }
    std::sort(times.begin(), times.end());
    std::printf("kelvo %s %.1f %.1f\n", ext, times[times.size() / 2], times.front());
  }
  SendMessageA(kelvo, WM_DESTROY, 0, 0);
  WaitForSingleObject(pi.hProcess, 10000);
  return 0;
}
