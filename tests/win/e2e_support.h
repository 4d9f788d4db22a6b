// A person at the screen: TallSnap.exe runs as a process of its own, and everything it is told
// goes through the mouse and keyboard (xdotool); everything learnt of it comes from its windows,
// the screen, its files and the clipboard.
#ifndef TALLSNAP_TESTS_WIN_E2E_SUPPORT_H
#define TALLSNAP_TESTS_WIN_E2E_SUPPORT_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "win_test_support.h"

// A child process that is ended when the record goes, so a failing test leaves nothing behind.
struct ChildProcess {
  PROCESS_INFORMATION pi{};
  ~ChildProcess() { Stop(); }
  // With an output handle, the process and whatever it starts write there instead of ours.
  bool Start(const std::string& commandLine, const std::string& folder, HANDLE output = nullptr);
  void Stop();
  bool Running() const;
};

// Screenshots of each step, kept as test artefacts in the Linux folder named by
// TALLSNAP_ARTEFACTS (nothing is kept when it is not set). On a scaled screen the names carry
// its DPI, so that they stand beside those of the usual run.
struct Artefacts {
  explicit Artefacts(std::string run) : name(std::move(run)) {}
  // The whole screen, or only this rectangle of it.
  void Shot(const std::string& step, const RECT* area = nullptr);
  std::string name;
  int count = 0;
};

// Where the programs under test come from: the Linux folder in TALLSNAP_PROGRAMS_DIR, which the
// test command sets to the unpacked release package (or, on a machine that runs no 32-bit
// program, to the x86_64 build), and the run command to its working folder; without it, the
// programs built beside the test.
std::string ProgramFolder();
// A Kelvo.exe of the other pointer size, for a program and converter of mixed builds: the
// x86_64 build's (Linux folder in TALLSNAP_WIN64_DIR) beside the 32-bit program, the shipped one
// beside the x86_64 program. Empty when its folder is not named.
std::string OtherSizeKelvo();

void Xdotool(const std::string& args);
void ClickAt(int x, int y);
POINT CentreOf(HWND window);

// The text of a window of another process.
std::string TextOf(HWND window);

// A rectangle of the screen as 0x00RRGGBB pixels, top-down.
std::vector<uint32_t> ScreenPixels(int x, int y, int width, int height);

// The clipboard's bitmap as a picture; false when there is none.
bool ClipboardPicture(Picture& picture);

// A tall image the test expects, row y and column x as 0x00RRGGBB.
using ImageRows = std::function<uint32_t(int x, int y)>;

// What the main window's preview shows when the tall image (rangeWidth wide, its rows given by
// image) has `used` rows in use: the newest band, rangeHeight rows, shrunk to previewHeight
// pixels (40 at 96 DPI, more on a scaled screen).
std::vector<uint32_t> ExpectedPreview(const ImageRows& image, int rangeWidth, int rangeHeight, int used,
                                      int previewHeight, SIZE& size);

// How a decoded picture holds up against the expected image. A lossy picture differs in every
// row, so for it the telling figure is misplacedRows: rows closer to another expected row within
// 8 of theirs than to their own, which is what a seam or a shift leaves.
struct Fidelity {
  int rows = 0;
  int mismatchedRows = 0;
  int misplacedRows = 0;
  double psnr = 0;
};
Fidelity CompareWith(const Picture& picture, const ImageRows& image, int width, int height);

// Where a lossless picture's rows came from, against the expected image of the given size: rows
// at their own place, extra copies of expected rows, expected rows found nowhere, and rows found
// nowhere in the expected image (a frame's marks, half-painted mixtures).
struct RowAccount {
  int inPlace = 0, repeated = 0, missing = 0, foreign = 0;
};
RowAccount AccountRows(const Picture& picture, const ImageRows& image, int width, int height);
Picture PictureOf(const ImageRows& image, int width, int height);

#endif
