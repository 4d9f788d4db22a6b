// Helpers for tests that run against real windows, files and the screen under Wine.
#ifndef TALLSNAP_TESTS_WIN_TEST_SUPPORT_H
#define TALLSNAP_TESTS_WIN_TEST_SUPPORT_H

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A new empty folder under the temporary folder; removed with everything in it.
std::string MakeTempFolder();
void RemoveFolderTree(const std::string& path);
// The folder holding the running test executable (and the program's executables).
std::string ExeFolder();

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FolderExists(const std::string& path);

// Dispatches this thread's messages until done() holds or timeoutMs passes; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
void PumpFor(DWORD ms);

// The first top-level window of process pid whose class is className, or null.
HWND FindProcessWindow(DWORD pid, const char* className, bool visibleOnly);

// How many bytes b the program image of process pid holds (its code and data, where globals
// live): what a reply stored in a global buffer adds to it shows how much of it was written.
// -1 when the image cannot be read, the process being gone for instance.
long CountInProgramImage(HANDLE process, DWORD pid, char b);

// The colour of a screen pixel, read back through a bit-block transfer from the display.
COLORREF ScreenPixel(int x, int y);
// The screen's pixels per logical inch as GDI tells them (96 unscaled, 144 at 150 %).
int ScreenDpi();

// Runs TallSnap's start-up in this process with folder as its working folder (the converters
// copied into it) and waits until the start-up tick has found the converter and made the range
// surfaces. False when it did not get there.
bool StartTallSnapIn(const std::string& folder);

// This process's GDI objects, USER objects (its windows and menus) and kernel handles, counted
// from inside, as Kelvo counts its own.
struct ResourceCounts {
  int gdi = 0;
  int user = 0;
  int handles = 0;
};
ResourceCounts OwnResourceCounts();

// A Linux path as Wine's programs see it: drive Z: is the root.
std::string WindowsPathOf(const std::string& unixPath);

// Runs a Linux program (Wine starts ELF files natively), e.g. "/usr/bin/xdotool key Return";
// returns its exit code, or -1 when it could not start or did not end within timeoutMs.
int RunUnix(const std::string& commandLine, DWORD timeoutMs);

// A decoded picture: top-down rows of blue, green, red bytes, no padding.
struct Picture {
  UINT width = 0;
  UINT height = 0;
  std::vector<BYTE> bgr;
};
// Decodes any image file WIC can read (JPEG, PNG, BMP).
bool DecodeImageFile(const std::string& path, Picture& picture);
// Peak signal-to-noise ratio in dB of b against a (same size); 999 when equal.
double Psnr(const Picture& a, const Picture& b);

// Answers Kelvo's save dialog as a user does: pointer over it, then keys (typed: a name to
// type and Enter; empty: Escape). Run() waits for the dialog of process kelvoPid.
struct DialogDriver {
  DialogDriver(DWORD pid, std::string text) : kelvoPid(pid), typed(std::move(text)) {}
  void Run();
  // Runs the driver on a thread of its own while `act` (which opens the dialog) runs here.
  void AnswerWhile(const std::function<void()>& act) {
    std::thread answering([this] { Run(); });
    act();
    answering.join();
  }
  DWORD kelvoPid;
  std::string typed;
  bool sawDialog = false;
  bool textMatched = false;
  std::string initialText;  // what the file name box held when the dialog was found
  std::string lastText;     // what the file name box held, for the failure message
  HWND dialogOwner = nullptr;
  std::string dialogTitle;
  bool forcedClose = false;  // the keys did not close it; it was cancelled by a message
  std::string troubleShot;   // a Linux path: a screenshot is saved there when the keys go astray
};

struct SeenDialog {
  std::string caption;
  std::string text;
};

// Answers every message box of this process with the button set (OK unless changed), from a
// thread of its own, and keeps what each one said.
struct DialogAnswerer {
  DialogAnswerer();
  ~DialogAnswerer();
  std::vector<SeenDialog> Seen();
  // Waits until at least n boxes have been answered.
  bool WaitForCount(size_t n, DWORD timeoutMs);

  std::atomic<int> button{IDOK};
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::vector<SeenDialog> seen;
  std::thread worker;
};

#endif
