#include "output/handoff.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "output/converter_link.h"
#include "output/paths.h"
#include "settings/files.h"
#include "shared/bmp.h"
#include "shared/converter_protocol.h"
#include "shared/handoff_files.h"
#include "shared/text.h"
#include "state/state.h"

namespace {

// How long the converter may take to make a file; a window that is gone ends the wait at once.
constexpr DWORD kConversionWaitMs = 60000;

void Tell(const std::string& text) { MessageBoxA(glMainWnd, text.c_str(), "<(_ _)>", MB_OK | MB_TOPMOST); }

bool WaitForFile(const std::string& path) {
  const DWORD start = GetTickCount();
  while (!PathFileExistsA(path.c_str())) {
    if (glConverterWnd == nullptr || !IsWindow(glConverterWnd)) return false;
    if (GetTickCount() - start >= kConversionWaitMs) return false;
    Sleep(30);
  }
  return true;
}

}  // namespace

bool PathIsTaken(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool BmpSaveByDIBS(const std::string& path, const uint32_t* pixels, int width, int height, uint32_t reserved) {
  if (width == 0 || height == 0) MessageBoxA(glMainWnd, "画像の大きさが0です。", "BmpSaveByDIBS", MB_OK);
  const std::vector<uint8_t> file = Bmp24FileBytes(reinterpret_cast<const uint8_t*>(pixels), 4 * width, 4,
                                                   static_cast<uint32_t>(width), static_cast<uint32_t>(height), reserved);
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool ok = out != INVALID_HANDLE_VALUE &&
                  WriteFile(out, file.data(), static_cast<DWORD>(file.size()), &written, nullptr) &&
                  written == file.size();
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (!ok && out != INVALID_HANDLE_VALUE) DeleteFileA(path.c_str());  // a part of the image is no image
  return ok;
}

bool SaveFallbackBmp(const std::string& stemPath, const uint32_t* pixels, int width, int height, const char* why,
                     std::string& problem) {
  std::string folder = FileHozonFolderPath;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (folder.size() < 2 || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    folder = glDesktopPath;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  const PathParts parts = SplitPath(stemPath);
  std::string name = parts.valid ? parts.name : stemPath.substr(0, stemPath.rfind('.'));
  std::string path = folder + name + ".bmp";
  if (!NextFreeName(path, PathIsTaken)) {
    problem = std::string(why) + "\r\n画像を保存できる名前がありません。\r\n" + path;
    return false;
  }
  if (path.size() >= kTextBufBytes || !BmpSaveByDIBS(path, pixels, width, height, 0)) {
    problem = std::string(why) + "\r\nBMPファイルも書き込めませんでした。\r\n" + path;
    return false;
  }
  Tell(std::string(why) + "\r\n画像はBMPで保存しました。\r\n" + path);
  return true;
}

bool ConvertWithKelvo(const std::string& path, const uint32_t* pixels, int width, int height, std::string& problem) {
  const std::string handOff = std::string(glStartDir) + "\\" + kHandOffBmpFile;
  char block[kOutputPathBlock] = {};
  if (path.size() >= sizeof block) {
    problem = "保存先のパスが長すぎます。\r\n" + path;
    return false;
  }
  if (!BmpSaveByDIBS(handOff, pixels, width, height, 0)) {
    problem = "Kelvo.exeに渡すBMPファイルを書き込めませんでした。\r\n" + handOff;
    return false;
  }
  lstrcpynA(block, path.c_str(), sizeof block);
  COPYDATASTRUCT data{reinterpret_cast<ULONG_PTR>(glMainWnd), sizeof block, block};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(glConverterWnd, WM_COPYDATA, reinterpret_cast<WPARAM>(glMainWnd),
                      reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 10000, &ignored);
  Sleep(200);
  // The converter answers FALSE to a file it could not make (a folder it may not write, a full
  // disk): there is nothing to wait for then.
  DWORD_PTR made = TRUE;
  const bool answered = SendMessageTimeoutA(glConverterWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(handOff.c_str()),
                                            SMTO_ABORTIFHUNG, kConversionWaitMs, &made) != 0;
  if (!(answered && made == FALSE) && WaitForFile(path)) return true;
  problem = "（;‘ o‘）/Kelvo.exeが画像を作れませんでした。";
  return false;
}

HandOff HandOffImage(const std::string& path, const uint32_t* pixels, int width, int height, int quality,
                     std::string& problem) {
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
  DeleteFileA(path.c_str());  // the name is free by its attributes: only our own earlier file can be here
  DeleteFileA((std::string(cwd) + "\\" + kHandOffJpgFile).c_str());
  DeleteFileA((std::string(cwd) + "\\" + kHandOffBmpFile).c_str());
  if (!IsImageFileName(PathFindFileNameA(path.c_str()), false)) {
    problem = "その拡張子の画像はお取り扱いしておりません。";
    return HandOff::Failed;
  }
  const std::string qualityText = NumToText(quality);
  FileWriteMy2((std::string(glStartDir) + "\\" + kQualityFile).c_str(), qualityText.data(),
               static_cast<DWORD>(qualityText.size()));
  if (lstrcmpiA(SplitPath(path).extension.c_str(), ".bmp") == 0) {
    if (BmpSaveByDIBS(path, pixels, width, height, 0)) return HandOff::Written;
    problem = "BMPファイルを書き込めませんでした。\r\n" + path;
    return HandOff::Failed;
  }
  std::string why = "（;‘ o‘）/Kelvo.exeが動いていないため、JPG・PNGにできませんでした。";
  if (EnsureConverter() && ConvertWithKelvo(path, pixels, width, height, why)) return HandOff::Written;
  return SaveFallbackBmp(path, pixels, width, height, why.c_str(), problem) ? HandOff::SavedAsBmp : HandOff::Failed;
}
