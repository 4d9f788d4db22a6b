#include "output/finish.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "capture/session.h"
#include "output/converter_link.h"
#include "output/finish_core.h"
#include "output/handoff.h"
#include "output/paths.h"
#include "output/save_location.h"
#include "settings/trace.h"
#include "shared/converter_protocol.h"
#include "shared/text.h"
#include "state/main_wnd_requests.h"
#include "state/state.h"

namespace {

constexpr const char* kClipboardFile = "clpbd.bmp";
constexpr const char* kSaveTitle = "保存先(フォルダ)と名前を決めてください";

void Tell(const std::string& text) { MessageBoxA(glMainWnd, text.c_str(), "<(_ _)>", MB_OK | MB_TOPMOST); }

// Another program may hold the clipboard for a moment.
constexpr DWORD kClipboardWaitMs = 2000;

// The names used this run, in the name box's list too.
void RememberNameInHistory() {
  std::vector<std::string> history(glNameHistory, glNameHistory + glNameCount);
  if (!RememberName(history, glNameText)) return;
  std::memset(glNameHistory, 0, sizeof glNameHistory);
  for (size_t i = 0; i < history.size(); ++i) SetText(glNameHistory[i], history[i]);
  glNameCount = static_cast<int>(history.size());
  TellNameRemembered();
}

const uint32_t* Pixels(const Surface& s) { return static_cast<const uint32_t*>(s.view); }

// Opened for the main window: with no window, EmptyClipboard leaves the clipboard without an
// owner, and Windows may then refuse the bitmap.
bool OpenClipboardWaiting() {
  const DWORD start = GetTickCount();
  while (!OpenClipboard(glMainWnd)) {
    if (GetTickCount() - start >= kClipboardWaitMs) return false;
    Sleep(50);
  }
  return true;
}

// The bitmap goes to the clipboard through a BMP file: the converter's when it runs, else
// TallSnap's own.
bool CopyToClipboard(const Surface& cut, std::string& problem) {
  // A file left by an earlier run holds another image: the converter would not overwrite it,
  // and the wait would find it at once.
  if (!DeleteFileA(kClipboardFile) && PathIsTaken(kClipboardFile)) {
    problem = std::string("前に作られたファイルを消せないため、クリップボードに渡せませんでした。\r\n") + kClipboardFile;
    return false;
  }
  std::string ignored;
  if (!(EnsureConverter() && ConvertWithKelvo(kClipboardFile, Pixels(cut), cut.width, cut.height, ignored)) &&
      !BmpSaveByDIBS(kClipboardFile, Pixels(cut), cut.width, cut.height, 0)) {
    problem = std::string("クリップボードに渡すBMPファイルを書き込めませんでした。\r\n") + kClipboardFile;
    return false;
  }
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), kClipboardFile, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
  DeleteFileA(kClipboardFile);
  if (bitmap == nullptr) {
    problem = "クリップボードに渡す画像を読み込めませんでした。";
    return false;
  }
  if (!OpenClipboardWaiting()) {
    DeleteObject(bitmap);
    problem = "ほかのプログラムがクリップボードを使っていて、開けませんでした。";
    return false;
  }
  EmptyClipboard();
  const bool taken = SetClipboardData(CF_BITMAP, bitmap) != nullptr;  // the clipboard owns it then
  CloseClipboard();
  if (taken) return true;
  DeleteObject(bitmap);
  problem = "クリップボードに画像を置けませんでした。";
  return false;
}

// The extension of the path's last component, dot included.
std::string CurrentExtension(const std::string& path) { return PathFindExtensionA(path.c_str()); }

// Every file of the format. False, with problem set, when one could not be written in any form.
bool WriteFiles(const FormatItem& format, std::string path, const Surface& cut, std::string& problem) {
  std::string bmpWritten;
  bool first = true;
  for (const char* extension : format.extensions) {
    if (!first) Sleep(200);
    first = false;
    if (lstrcmpiA(CurrentExtension(path).c_str(), extension) != 0) path = ReplaceExtension(path, extension);
    if (std::strcmp(extension, ".jpg") == 0) TraceText("SaveFilePath", path);
    if (!NextFreeName(path, PathIsTaken)) {
      problem = "同じ名前のファイルが多すぎて、番号をつけられません。\r\n" + path;
      return false;
    }
    if (path.size() >= kTextBufBytes) {
      problem = "保存先のパスが長すぎます。\r\n" + path;
      return false;
    }
    // Without the converter, the BMP already written is the image: one file, one message.
    if (!bmpWritten.empty() && !EnsureConverter()) {
      Tell("（;‘ o‘）/Kelvo.exeが動いていないため、PNG・JPGは作れませんでした。BMPは保存しました。\r\n" + bmpWritten);
      return true;
    }
    switch (HandOffImage(path, Pixels(cut), cut.width, cut.height, 100, problem)) {
      case HandOff::Failed: return false;
      case HandOff::SavedAsBmp: return true;  // the image is safe, and the user knows where
      case HandOff::Written:
        if (std::strcmp(extension, ".bmp") == 0) bmpWritten = path;
        break;
    }
  }
  return true;
}

// Writes the image as the format box says, where the user says. False when it was not written:
// the image must then stay, and problem says why (nothing when the user cancelled).
bool WriteOutput(const Surface& cut, const std::string& name, bool desktop, std::string& problem) {
  FinishFacts facts;
  facts.formatKey = FirstChar(glFormatText);
  facts.desktopChecked = desktop;
  facts.name = name;
  facts.desktopFolder = glDesktopPath;
  FinishStep step = NextFinishStep(facts);
  const FormatItem* format = FormatItemForKey(facts.formatKey);
  if (step.act == FinishAct::AskLocation && format != nullptr) {
    facts.answer = AskSaveLocation(glMainWnd, format->fileTypeText, kSaveTitle, name);
    facts.asked = true;
    if (facts.answer == SaveAnswer::Chosen) {
      facts.chosenPath.assign(glReplyBuf, strnlen(glReplyBuf, kReplyBufBytes));
      TraceText("SaveFilePath", facts.chosenPath);
    }
    step = NextFinishStep(facts);
  }
  switch (step.act) {
    case FinishAct::CopyToClipboard: return CopyToClipboard(cut, problem);
    case FinishAct::KeepQuietly: problem.clear(); return false;
    case FinishAct::SaveFallback:
      // Only the name part of this stem is used.
      return SaveFallbackBmp("C:\\" + name, Pixels(cut), cut.width, cut.height, step.text.c_str(), problem);
    case FinishAct::WriteFiles:
      if (format == nullptr) break;
      SetText(FileHozonFolderPath, FolderOfPath(step.text));
      return WriteFiles(*format, step.text, cut, problem);
    case FinishAct::Keep: problem = step.text; return false;
    case FinishAct::AskLocation: break;
  }
  // Not reached: a location is asked for and written only in a format with files.
  problem = "保存できませんでした。";
  return false;
}

// The kept layout, on a band that leaves the capture's red.
void ShowImageKept() {
  ShowKeptLayout();
  RepaintMainWnd();
}

// The image stays with TallSnap, and the name, the desktop check and the format are shown beside
// "終わる", so that the user can put right what the message names (if any) and try again.
void KeepImage(Surface& cut, const std::string& why) {
  ReleaseSurface(cut);
  ShowImageKept();
  if (!why.empty()) Tell(KeptImageMessage(why));
}

}  // namespace

void FinishCapture(const FinishChoices& choices) {
  glCapturing = 0;
  StopCaptureTimer();  // no step may still be writing the image below
  if (glBufDC.memDC == nullptr) return;
  SetText(glFormatText, choices.formatText);
  RefreshImageTail();
  // Only black that no screen showed goes: a page or a terminal that ends in dark rows keeps them.
  glScrollY = std::max(0, glScrollY.load() - glFillRowsAtEnd);
  TraceNumbers("glScrollY", glScrollY.load(), 0, 0, 0, 0);

  Surface cut{};
  if (!CreateSurface(cut, "TallSnap_CutDC", 0, glBufDC.width - 2 * glBorder, glScrollY.load(), 32)) {
    ShowImageKept();  // the user has been told; the image is still there for another try
    return;
  }
  BitBlt(cut.memDC, 0, 0, glBufDC.width, glScrollY.load(), glBufDC.memDC, 0, 0, SRCCOPY);
  GdiFlush();

  const std::string& name = choices.name;
  if (name.size() <= kLongestName) {
    SetText(glNameText, name);
    RememberNameInHistory();
  }

  std::string problem;
  if (!WriteOutput(cut, name, choices.desktop, problem)) return KeepImage(cut, problem);

  ReleaseSurface(cut);
  ReleaseSurface(glBufDC);
  ReleaseSurface(glSmallBufDC);
  ReleaseSurface(glSeenBufDC);
  ShowStartLayout();
  RepaintMainWnd();
}
