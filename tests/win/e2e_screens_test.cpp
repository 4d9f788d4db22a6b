// Screens larger than the usual one, and one that grows while TallSnap runs.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "e2e_support.h"
#include "range/rect.h"

namespace {

// The program's memory seen from outside while it works: its private bytes and its addresses in
// use (its pixels are mapped files, which private bytes leave out) at their highest, and its
// largest free range of addresses at its smallest, sampled every 50 ms until Stop().
struct MemoryWatch {
  explicit MemoryWatch(DWORD pid) : process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)) {
    worker = std::thread([this] {
      while (!stop) {
        Sample();
        Sleep(50);
      }
    });
  }
  ~MemoryWatch() { Stop(); }
  void Stop() {
    stop = true;
    if (worker.joinable()) worker.join();
    if (process != nullptr) CloseHandle(process);
    process = nullptr;
  }
  void Sample() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    // Private bytes are the commit charge, which Windows also reports as PagefileUsage; Wine
    // fills only that one for another process (from the resident anonymous memory).
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
      peakPrivate = std::max<SIZE_T>(peakPrivate, std::max(counters.PrivateUsage, counters.PagefileUsage));
    uintptr_t at = 0, largest = 0, inUse = 0;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQueryEx(process, reinterpret_cast<void*>(at), &region, sizeof region) == sizeof region) {
      if (region.State == MEM_FREE) largest = std::max<uintptr_t>(largest, region.RegionSize);
      if (region.State != MEM_FREE) inUse += region.RegionSize;
      const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
      if (next <= at) break;  // the top of the address space
      at = next;
    }
    if (largest == 0) return;
    peakInUse = std::max(peakInUse, inUse);
    if (samples++ == 0) firstLargestFree = largest;
    leastLargestFree = std::min<uintptr_t>(leastLargestFree, largest);
  }
  HANDLE process;
  std::atomic<bool> stop{false};
  std::thread worker;
  SIZE_T peakPrivate = 0;
  uintptr_t firstLargestFree = 0, leastLargestFree = UINTPTR_MAX, peakInUse = 0;
  int samples = 0;
};

// The screen's size. When the test command gave the run a screen of its own (TALLSNAP_SCREEN,
// "3840x2160"), it waits for Wine to tell that size: just after a new X server Wine may still
// tell the one it had before, until its desktop has read the new one.
SIZE ScreenSize() {
  char given[32] = {};
  int w = 0, h = 0;
  const auto now = [] { return SIZE{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; };
  if (GetEnvironmentVariableA("TALLSNAP_SCREEN", given, sizeof given) != 0 && std::sscanf(given, "%dx%d", &w, &h) == 2 &&
      !PumpUntil([&] { return now().cx == w && now().cy == h; }, 20000))
    ADD_FAILURE() << "Wine tells a screen of " << now().cx << " x " << now().cy << ", not the " << given
                  << " the test command gave";
  return now();
}

}  // namespace

// The largest capture the program holds: a range over a whole 3840 x 2160 screen, whose first
// tick ends the capture (a range over 2000 rows fills the 4006-row image at once), written in all
// three formats. The test command runs it alone, on a screen of that size.
TEST_F(EndToEnd, TheLargestCaptureOnA4kScreen) {
  const SIZE screen = ScreenSize();
  const int width = screen.cx, height = screen.cy;
  // Wider screens (three monitors' worth) give the figures of the largest desktops.
  if (width < 3840 || height < 2160) GTEST_SKIP() << "needs a 3840 x 2160 screen, which the test command gives it";
  ASSERT_TRUE(target.Start(0, 0, width, height));
  ASSERT_TRUE(StartTallSnap());
  MemoryWatch memory(tallsnap.pi.dwProcessId);
  const std::string name = "tallsnap-4k-" + std::to_string(GetCurrentProcessId()) + "-top";
  onDesktop = {name + ".bmp", name + ".png", name + ".jpg"};
  ASSERT_TRUE(NameForTheDesktop(name));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kAllThree));
  ASSERT_TRUE(DragRange(0, 0, width - 1, height - 1, RGB(0, 255, 255)));
  shots.Shot("whole-screen");
  RECT own{};
  GetWindowRect(main, &own);
  ASSERT_TRUE(Finish());
  memory.Stop();
  std::printf("memory %s on %d x %d: peak private bytes %.1f MB, peak addresses in use %.1f MB; largest free range "
              "of addresses %.1f MB before the capture, %.1f MB at its smallest (%d samples)\n",
              shots.name.c_str(), width, height, memory.peakPrivate / 1048576.0, memory.peakInUse / 1048576.0,
              memory.firstLargestFree / 1048576.0, memory.leastLargestFree / 1048576.0, memory.samples);
  EXPECT_GT(memory.samples, 0);
  // The screen as it stood, but where TallSnap's own window lies over the target.
  for (const std::string& file : onDesktop) {
    Picture written;
    ASSERT_TRUE(PumpUntil([&] { return DecodeImageFile(Desktop() + "\\" + file, written); }, 10000)) << file;
    const ImageRows screen = [&](int x, int y) {
      if (x < own.left || x >= own.right || y < own.top || y >= own.bottom) return ContentPixel(x, y);
      const BYTE* p = &written.bgr[(static_cast<size_t>(y) * written.width + x) * 3];
      return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    };
    // The image is the first grab alone, its last row included.
    ExpectFaithful(Desktop() + "\\" + file, screen, RangeWidth(), RangeHeight());
  }
}

// The range window over a screen far wider and taller than 2000 pixels: while the user drags,
// the screen is the frozen picture everywhere but for the frame's dashes, which lie exactly
// round the rectangle dragged so far; dragged back, no dash is left behind; the range in the far
// corner is captured pixel for pixel. The test command runs it on 3840 x 2160 and 2560 x 1440
// screens, and it prints what a mouse move of the drag costs there.
TEST_F(EndToEnd, TheRangeWindowShowsTheWholeScreen) {
  const SIZE screen = ScreenSize();
  const int width = screen.cx, height = screen.cy;
  if (width < 2560) GTEST_SKIP() << "needs a screen 2560 pixels wide or more, which the test command gives it";
  // The target in the far corner, the desktop round it.
  ASSERT_TRUE(target.Start(width - 1000, height - 800, 940, 750));
  ASSERT_TRUE(StartTallSnap());
  const std::string name = "tallsnap-far-" + std::to_string(GetCurrentProcessId());
  onDesktop = {name + ".bmp"};
  ASSERT_TRUE(NameForTheDesktop(name));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  RECT own{};
  GetWindowRect(main, &own);
  const std::vector<uint32_t> stood = ScreenPixels(0, 0, width, height);
  ASSERT_EQ(stood.size(), static_cast<size_t>(width) * height);
  Press(kIdRangeButton);
  HWND rangeWindow = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] { return (rangeWindow = FindProcessWindow(tallsnap.pi.dwProcessId, "NORMAL1", true)) != nullptr; }, 5000));
  // The screen TallSnap froze is the screen as it stood before, but where its own window lies;
  // with a frame, its dashes painted over it in their order.
  const auto expected = [&](const RECT* frame) {
    std::vector<uint32_t> screen = stood;
    if (frame != nullptr)
      for (const FrameBlock& b : DashedFrameBlocks(frame->left, frame->top, frame->right, frame->bottom, 2))
        for (int y = std::max(0, b.y); y < std::min(height, b.y + b.h); ++y)
          for (int x = std::max(0, b.x); x < std::min(width, b.x + b.w); ++x)
            screen[static_cast<size_t>(y) * width + x] = b.black ? 0u : 0x00FFFFFFu;
    return screen;
  };
  // Pixels unlike the expected screen, TallSnap's own window left out; the first of them in `at`.
  const auto unlike = [&](const std::vector<uint32_t>& want, POINT& at) {
    const std::vector<uint32_t> shown = ScreenPixels(0, 0, width, height);
    int count = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const size_t i = static_cast<size_t>(y) * width + x;
        if (x >= own.left && x < own.right && y >= own.top && y < own.bottom) continue;
        if (shown.size() == want.size() && shown[i] == want[i]) continue;
        if (count++ == 0) at = POINT{x, y};
      }
    return count;
  };
  const auto shows = [&](const RECT* frame, const char* what) {
    const std::vector<uint32_t> want = expected(frame);
    POINT at{};
    int count = -1;
    if (PumpUntil([&] { return (count = unlike(want, at)) == 0; }, 10000)) return true;
    shots.Shot(what);
    ADD_FAILURE() << what << ": " << count << " pixels unlike the frozen screen, the first at " << at.x << "," << at.y;
    return false;
  };
  ASSERT_TRUE(shows(nullptr, "frozen"));
  // The range narrower than tall, so that its preview stays clear of the buttons beside it.
  const POINT start{width - 900, height - 700}, corner{width - 60, height - 50}, back{width - 500, height - 200};
  const RECT farFrame{start.x, start.y, corner.x, corner.y}, backFrame{start.x, start.y, back.x, back.y};
  Xdotool("mousemove " + std::to_string(start.x) + " " + std::to_string(start.y) + " sleep 0.1 mousedown 1 sleep 0.05 " +
          "mousemove " + std::to_string(corner.x) + " " + std::to_string(corner.y));
  ASSERT_TRUE(shows(&farFrame, "dragged-to-the-far-corner"));
  shots.Shot("dragged-to-the-far-corner");
  Xdotool("mousemove " + std::to_string(back.x) + " " + std::to_string(back.y));
  ASSERT_TRUE(shows(&backFrame, "dragged-back"));

  // What one mouse move of the drag costs TallSnap: the move and the painting it asks for,
  // each sent to the range window and waited for.
  std::vector<double> ms;
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  for (int k = 0; k < 40; ++k) {
    const int x = back.x + (k % 2 == 0 ? 40 : -40) + k, y = back.y + (k % 2 == 0 ? 30 : -30) + k;
    QueryPerformanceCounter(&before);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(rangeWindow, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 5000, &result);
    RedrawWindow(rangeWindow, nullptr, nullptr, RDW_UPDATENOW);
    QueryPerformanceCounter(&after);
    ms.push_back(1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) / static_cast<double>(frequency.QuadPart));
  }
  std::sort(ms.begin(), ms.end());
  std::printf("drag %s on %d x %d: a mouse move costs %.2f ms (median), %.2f ms at most, of %zu\n", shots.name.c_str(),
              width, height, ms[ms.size() / 2], ms.back(), ms.size());
  // The real mouse ends the drag where the last frame was shown.
  Xdotool("mousemove " + std::to_string(back.x - 1) + " " + std::to_string(back.y - 1) + " sleep 0.05 mousemove " +
          std::to_string(back.x) + " " + std::to_string(back.y) + " sleep 0.05 mouseup 1");
  range_ = backFrame;
  // The band turns red once the first grab is taken.
  ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(rangeWindow) && Band() == RGB(255, 0, 0); }, 10000));
  const int begun = target.Offset();
  ASSERT_TRUE(ScrollAndFollow(3, begun));
  const int rows = RowsFollowed(begun);
  ASSERT_TRUE(Finish());
  ExpectFaithful(Desktop() + "\\" + name + ".bmp", TargetRows(begun), RangeWidth(), rows);
}

// This test again, run inside a Wine virtual desktop of the given size, whose display the run
// inside may change; its output is shown here and its verdict is this test's.
static void RunInsideVirtualDesktop(const std::string& folder, const char* size) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  // The run inside writes to a file: Wine may take it for ended while its Linux side is still
  // running, and the file is what tells its verdict.
  const std::string log = folder + "\\inside.log";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              &inherit, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  SetEnvironmentVariableA("TALLSNAP_IN_DESKTOP", "1");
  ChildProcess desktop;
  const bool started = desktop.Start("explorer.exe /desktop=tallsnap" + std::to_string(GetCurrentProcessId()) + "," +
                                         size + " \"" + self + "\" --gtest_filter=EndToEnd." + test,
                                     folder, output);
  SetEnvironmentVariableA("TALLSNAP_IN_DESKTOP", nullptr);
  CloseHandle(output);
  ASSERT_TRUE(started);
  // The run's summary comes after its own tear-down.
  const auto summed = [&] {
    const std::string said = ReadFileBytes(log);
    return said.find("[  PASSED  ]") != std::string::npos || said.find("[  FAILED  ]") != std::string::npos;
  };
  EXPECT_TRUE(PumpUntil(summed, 180000));
  const std::string said = ReadFileBytes(log);
  std::printf("--- the run inside the desktop ---\n%s--- end of the run inside ---\n", said.c_str());
  EXPECT_TRUE(said.find("[  PASSED  ] 1 test.") != std::string::npos) << "the run inside the desktop failed";
}

// A display that grows while TallSnap runs (a monitor plugged in, a higher resolution): in a
// Wine virtual desktop of 1024 x 768, which grows to 1280 x 1024 between two ranges, the second
// range window covers the desktop as it is now and a range in the new area is captured pixel for
// pixel. Plain Xvfb refuses new modes; the test runs itself again inside such a desktop.
TEST_F(EndToEnd, ADisplayThatGrowsBetweenTwoRanges) {
  if (GetEnvironmentVariableA("TALLSNAP_IN_DESKTOP", nullptr, 0) == 0) {
    RunInsideVirtualDesktop(folder, "1024x768");
    return;
  }
  const auto desktopIs = [](int w, int h) {
    return GetSystemMetrics(SM_CXVIRTUALSCREEN) == w && GetSystemMetrics(SM_CYVIRTUALSCREEN) == h;
  };
  ASSERT_TRUE(desktopIs(1024, 768));
  ASSERT_TRUE(StartTallSnap());
  const std::string name = "tallsnap-grown-" + std::to_string(GetCurrentProcessId());
  onDesktop = {name + ".bmp"};
  ASSERT_TRUE(NameForTheDesktop(name));
  // The range window over the desktop as it was, given up with a close.
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  Press(kIdRangeButton);
  HWND rangeWindow = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] { return (rangeWindow = FindProcessWindow(tallsnap.pi.dwProcessId, "NORMAL1", true)) != nullptr; }, 5000));
  const auto covers = [&](int w, int h) {
    RECT client{};
    GetClientRect(rangeWindow, &client);
    POINT corner{0, 0};
    ClientToScreen(rangeWindow, &corner);
    return ::testing::AssertionResult(corner.x == 0 && corner.y == 0 && client.right >= w && client.bottom >= h)
           << "the range window's client area is " << client.right << " x " << client.bottom << " at " << corner.x
           << "," << corner.y;
  };
  EXPECT_TRUE(covers(1024, 768));
  PostMessageA(rangeWindow, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(rangeWindow); }, 5000));

  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = 1280;
  mode.dmPelsHeight = 1024;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  ASSERT_EQ(ChangeDisplaySettingsExA(nullptr, &mode, nullptr, 0, nullptr), DISP_CHANGE_SUCCESSFUL);
  ASSERT_TRUE(PumpUntil([&] { return desktopIs(1280, 1024); }, 10000));
  ASSERT_TRUE(target.Start(100, 150, 1150, 860));
  // In the area the desktop gained, right of and below the old one.
  const int begun = target.Offset();
  ASSERT_TRUE(DragRange(1040, 780, 1220, 990));
  EXPECT_TRUE(covers(1280, 1024));
  ASSERT_TRUE(ScrollAndFollow(3, begun));
  const int rows = RowsFollowed(begun);
  ASSERT_TRUE(Finish());
  ExpectFaithful(Desktop() + "\\" + name + ".bmp", TargetRows(begun), RangeWidth(), rows);
}
