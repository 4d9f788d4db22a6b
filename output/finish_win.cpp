#include "output/finish.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/main_wnd.h"
#include "app/main_wnd_core.h"
#include "app/state.h"
#include "capture/session.h"
#include "output/finish_core.h"
#include "output/handoff.h"
#include "output/paths.h"
#include "output/save_location.h"
#include "settings/text.h"
#include "settings/trace.h"

namespace {

constexpr const char* kClipboardFile = "clpbd.bmp";
constexpr const char* kSaveTitle = "保存先(フォルダ)と名前を決めてください";

struct OutputMode {
  char key;
  const char* fileTypeText;
  std::vector<const char*> extensions;  // written in this order
};

const OutputMode kModes[] = {
    {'j', "JPG(*.jpg)", {".jpg"}},
    {'p', "PNG(*.png)", {".png"}},
    {'b', "BMP(*.bmp)", {".bmp"}},
    {'3', "3種類", {".bmp", ".png", ".jpg"}},
};

const OutputMode* ModeFor(int firstByte) {
  for (const OutputMode& m : kModes)
    if (static_cast<unsigned char>(m.key) == firstByte) return &m;
  return nullptr;
}

void Tell(const std::string& text) { MessageBoxA(glMainWnd, text.c_str(), "<(_ _)>", MB_OK | MB_TOPMOST); }

// The names used this run, in the name box's list too.
void RememberNameInHistory() {
  std::vector<std::string> history(glNameHistory, glNameHistory + glNameCount);
  if (!RememberName(history, glNameText)) return;
  std::memset(glNameHistory, 0, sizeof glNameHistory);
  for (size_t i = 0; i < history.size(); ++i) SetText(glNameHistory[i], history[i]);
  glNameCount = static_cast<int>(history.size());
  SendMessageA(GetDlgItem(glMainWnd, kIdNameBox), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(glNameText));
}

// The bitmap goes to the clipboard through a BMP file the converter makes.
void CopyToClipboard(const Surface& cut) {
  HandOffImage(kClipboardFile, static_cast<const uint32_t*>(cut.view), cut.width, cut.height, 100);
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), kClipboardFile, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
  if (bitmap != nullptr && OpenClipboard(nullptr)) {
    EmptyClipboard();
    SetClipboardData(CF_BITMAP, bitmap);  // the clipboard owns it now
    CloseClipboard();
  } else if (bitmap != nullptr) {
    DeleteObject(bitmap);
    Tell("クリップボードを開けませんでした。");
  }
  DeleteFileA(kClipboardFile);
}

// The extension of the path's last component, dot included.
std::string CurrentExtension(const std::string& path) { return PathFindExtensionA(path.c_str()); }

void WriteFiles(const OutputMode& mode, std::string path, const Surface& cut) {
  bool first = true;
  for (const char* extension : mode.extensions) {
    if (!first) Sleep(200);
    first = false;
    if (lstrcmpiA(CurrentExtension(path).c_str(), extension) != 0) path = ReplaceExtension(path, extension);
    if (std::strcmp(extension, ".jpg") == 0) TraceText("SaveFilePath", path);
    if (!NextFreeName(path, PathIsTaken)) {
      Tell("同じ名前のファイルが多すぎて、番号をつけられません。\r\n" + path);
      continue;
    }
    if (path.size() >= kTextBufBytes) {
      Tell("保存先のパスが長すぎます。\r\n" + path);
      continue;
    }
    HandOffImage(path, static_cast<const uint32_t*>(cut.view), cut.width, cut.height, 100);
  }
}

// Where the files go: the desktop, or the converter's save dialog. Empty: nowhere (cancelled,
// or already saved elsewhere).
std::string ChooseOutputPath(const OutputMode* mode, const Surface& cut) {
  if (SendMessageA(GetDlgItem(glMainWnd, kIdDesktopCheck), BM_GETCHECK, 0, 0) != 0)
    return std::string(glDesktopPath) + "\\" + glNameText;
  if (!AskSaveLocation(glMainWnd, mode != nullptr ? mode->fileTypeText : "", kSaveTitle, glNameText)) {
    // No converter to show the dialog: the image is kept as a BMP in the save folder.
    SaveFallbackBmp(std::string("C:\\") + glNameText, static_cast<const uint32_t*>(cut.view), cut.width, cut.height,
                    "（;‘ o‘）/Kelvo.exeが動いていないため、保存先を選べませんでした。");
    return std::string();
  }
  if (SentakuFileName[0][0] == '\0') return std::string();
  const std::string path(glReplyBuf, strnlen(glReplyBuf, kReplyBufBytes));
  TraceText("SaveFilePath", path);
  return path;
}

}  // namespace

void FinishCapture() {
  glCapturing = 0;
  StopCaptureTimer();  // no step may still be writing the image below
  if (glBufDC.memDC == nullptr) return;
  SetText(glFormatText, ControlText(glMainWnd, kIdFormatBox));
  glScrollY = TrimmedHeight(SurfaceView(glBufDC), glHanniWidth, glScrollY.load());
  TraceNumbers("glScrollY", glScrollY.load(), 0, 0, 0, 0);

  Surface cut{};
  if (!CreateSurface(cut, "TallSnap_CutDC", 0, glBufDC.width - 2 * glBorder, glScrollY.load(), 32)) return;
  BitBlt(cut.memDC, 0, 0, glBufDC.width, glScrollY.load(), glBufDC.memDC, 0, 0, SRCCOPY);
  GdiFlush();

  const std::string name = ControlText(glMainWnd, kIdNameBox);
  if (name.size() >= kEntryBufBytes) {
    // Refused rather than cut into another name; the image stays for another try.
    Tell("名前が長すぎます。短くしてから、もう一度「終わる」を押してください。");
    ReleaseSurface(cut);
    return;
  }
  SetText(glNameText, name);
  RememberNameInHistory();

  const int key = FirstChar(glFormatText);
  if (key == 'B') {
    CopyToClipboard(cut);
  } else {
    const OutputMode* mode = ModeFor(key);
    const std::string path = ChooseOutputPath(mode, cut);
    if (path.size() >= kTextBufBytes) {
      // Refused rather than cut into another path; the image stays for another try.
      Tell("保存先のパスが長すぎます。\r\n" + path);
      ReleaseSurface(cut);
      return;
    }
    if (!path.empty()) {
      SetText(FileHozonFolderPath, FolderOfPath(path));
      if (mode != nullptr) WriteFiles(*mode, path, cut);
    }
  }

  ReleaseSurface(cut);
  ReleaseSurface(glBufDC);
  ReleaseSurface(glSmallBufDC);
  ShowStartLayout();
  RepaintMainWnd();
}
