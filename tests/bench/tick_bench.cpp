// The whole stitching tick under Wine for a range of the whole screen less 3 pixels on every side
// (1914 x 1074 on a 1920 x 1080 screen) over the scroll target: the screen grab, the settle check,
// the decision, the append and the preview's stretch, beside a bare grab of the same range in the
// same run. Prints "tick <case> <median ms> <max ms> <median / median of the bare grab>".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/session.h"
#include "state/state.h"

namespace {

double Ms(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Report(const char* name, const std::vector<double>& times, double grab) {
  std::printf("tick %-9s %7.2f %7.2f %6.2f\n", name, Median(times), *std::max_element(times.begin(), times.end()),
              Median(times) / grab);
}

// What the main window's painting does with the newest rows at every tick.
void StretchPreview(HDC into) {
  const float scale = 40.0f / static_cast<float>(glHanniHeight);
  const int w = glHanniWidth + 2 * glBorder, h = glHanniHeight;
  SetStretchBltMode(into, COLORONCOLOR);
  StretchBlt(into, 0, 0, static_cast<int>(scale * static_cast<float>(w)), static_cast<int>(scale * static_cast<float>(h)),
             glBufDC.memDC, 0, glScrollY.load() - h, w, h, SRCCOPY);
  GdiFlush();
}

// prepare() runs untimed before each tick().
template <typename Prepare, typename Tick>
std::vector<double> Time(int count, Prepare prepare, Tick tick) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    prepare();
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    tick();
    QueryPerformanceCounter(&t1);
    times.push_back(Ms(t0, t1));
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  SetCurrentDirectoryA(argv[1]);
  CreateDirectoryA("ファイルマップフォルダ", nullptr);
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  char self[MAX_PATH];
  std::string exe(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  std::string line = "\"" + exe.substr(0, exe.find_last_of('\\') + 1) + "scroll_target.exe\" 0 0 " +
                     std::to_string(screenW) + " " + std::to_string(screenH) + " 24";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION target{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &target)) return 1;
  HWND targetWindow = nullptr;
  for (int i = 0; i < 500 && targetWindow == nullptr; ++i) {
    targetWindow = FindWindowA("ScrollTarget", nullptr);
    Sleep(20);
  }
  SendMessageA(targetWindow, WM_NULL, 0, 0);  // its first paint is done once it answers

  glMainWnd = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 100, 40, nullptr, nullptr,
                              nullptr, nullptr);
  glDisplayDC = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  glBorder = 3;
  glBufMaxH = 4000;
  glHanniWidth = screenW - 6;
  glHanniHeight = screenH - 6;
  glHanniLeft = 0;
  glHanniTop = 0;
  glHanniRight = screenW;
  glHanniBottom = screenH;
  StartCapture();
  StopCaptureTimer();  // the ticks below are called one by one and timed
  glCapturing = 1;
  HDC preview = GetDC(glMainWnd);

  const auto nothing = [] {};
  const std::vector<double> grab = Time(30, nothing, [] {
    BitBlt(glSmallBufDC.memDC, 0, 0, glHanniWidth, glHanniHeight, glDisplayDC, glHanniLeft + glBorder,
           glHanniTop + glBorder, SRCCOPY);
    GdiFlush();
  });
  const double grabMedian = Median(grab);
  const auto tick = [&] {
    CaptureStep(0, 0, 0, 0, 0);
    StretchPreview(preview);
  };
  const std::vector<double> still = Time(30, nothing, tick);
  // One notch before each tick: 24 rows, as a text view moves two lines; the target has painted
  // them when the message returns.
  const std::vector<double> scrolled =
      Time(30, [&] { SendMessageA(targetWindow, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0); }, tick);
  std::printf("range %d x %d; image rows after the scrolled ticks: %d\n", glHanniWidth, glHanniHeight,
              glScrollY.load());
  Report("bare grab", grab, grabMedian);
  Report("still", still, grabMedian);
  Report("scrolled", scrolled, grabMedian);
  ReleaseDC(glMainWnd, preview);
  glCapturing = 0;
  StopCaptureTimer();
  ReleaseSurface(glBufDC);
  ReleaseSurface(glSmallBufDC);
  ReleaseSurface(glSeenBufDC);
  TerminateProcess(target.hProcess, 0);
  return 0;
}
