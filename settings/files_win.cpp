#include "settings/files.h"

#include <cstring>
#include <vector>

#include "settings/settings_format.h"
#include "shared/text.h"
#include "state/state.h"

namespace {

// Settings files are a few bytes; this bound keeps a stray huge file from exhausting memory.
constexpr DWORD kMaxReadBytes = 1 << 20;

HANDLE OpenExclusiveForReading(const char* path) {
  return CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateExclusiveForWriting(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads the whole open file (up to the bound) and closes it. False when its size is unknown.
bool ReadAndClose(HANDLE file, std::vector<char>& content) {
  const DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  content.assign(std::min(size, kMaxReadBytes), '\0');
  DWORD total = 0;
  while (total < content.size()) {
    DWORD got = 0;
    if (!ReadFile(file, content.data() + total, static_cast<DWORD>(content.size()) - total, &got, nullptr) ||
        got == 0)
      break;
    total += got;
  }
  content.resize(total);
  CloseHandle(file);
  return true;
}

bool WriteAll(HANDLE file, const void* bytes, DWORD count) {
  DWORD written = 0;
  return count == 0 || (WriteFile(file, bytes, count, &written, nullptr) && written == count);
}

}  // namespace

std::string FileReadLine(const char* path, int n) {
  HANDLE file = OpenExclusiveForReading(path);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::vector<char> content;
  if (!ReadAndClose(file, content)) {
    const std::string text = "FileSize=-1 " + NumToText(static_cast<double>(reinterpret_cast<uintptr_t>(file)));
    MessageBoxA(glMainWnd, text.c_str(), "", MB_OK);
    CloseHandle(file);
    return std::string();
  }
  return ExtractLine(content.data(), content.size(), n);
}

void FileWriteText(const char* path, const std::string& text) {
  HANDLE file = CreateExclusiveForWriting(path);
  if (file == INVALID_HANDLE_VALUE) return;
  WriteAll(file, text.c_str(), static_cast<DWORD>(text.size() + 1));
  CloseHandle(file);
}

DWORD FileWriteMy2(const char* path, const void* bytes, DWORD count) {
  HANDLE file = CreateExclusiveForWriting(path);
  if (file == INVALID_HANDLE_VALUE) {
    MessageBoxA(glMainWnd, "FileWriteMy2 INVALID_HANDLE_VALUE", "", MB_OK);
    return 0;
  }
  DWORD written = 0;
  if (count != 0) WriteFile(file, bytes, count, &written, nullptr);
  CloseHandle(file);
  return written;
}

int FileExists(const char* path) {
  HANDLE file = OpenExclusiveForReading(path);
  if (file == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(file);
  return 1;
}

void MainWndLoadPos(const char* path, HWND window) {
  HANDLE file = OpenExclusiveForReading(path);
  if (file == INVALID_HANDLE_VALUE) return;
  std::vector<char> content;
  if (!ReadAndClose(file, content)) {
    CloseHandle(file);
    return;
  }
  const WindowPos pos = ParseMainWndPos(content.data(), content.size());
  SetWindowPos(window, HWND_TOP, pos.left, pos.top, 0, 0, SWP_NOSIZE);
}

void MainWndSavePos(const char* path, HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  FileWriteText(path, FormatMainWndPos(r.left, r.top));
}

void LoadSettings() {
  const std::string folder = FileReadLine(kSaveFolderFile, 0);
  SetText(FileHozonFolderPath, SaveFolderFromLine(folder, glDesktopPath, sizeof FileHozonFolderPath));
  MainWndLoadPos(kMainWndPosFile, glMainWnd);
  SetText(glFormatText, FileExists(kFormatFile) ? FileReadLine(kFormatFile, 0) : std::string("j"));
}

void SaveSettings() {
  FileWriteMy2(kLastFolderFile, FileHozonFolderPath, static_cast<DWORD>(std::strlen(FileHozonFolderPath)));
  FileWriteMy2(kFormatFile, glFormatText, static_cast<DWORD>(std::strlen(glFormatText)));
  MainWndSavePos(kMainWndPosFile, glMainWnd);
}
