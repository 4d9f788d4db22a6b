#include "app/creation.h"

#include <windows.h>

#include <cstring>

#include "app/main_wnd.h"
#include "app/main_wnd_core.h"
#include "output/converter_link.h"
#include "output/finish_core.h"
#include "range/range_wnd.h"
#include "settings/files.h"
#include "shared/converter_protocol.h"
#include "shared/text.h"
#include "state/state.h"

namespace {

// Both converter programs must lie in the working folder; without one the program ends here.
void RequireConverter(const char* file, const char* message) {
  if (FileExists(file)) return;
  MessageBoxA(glMainWnd, message, "TallSnap", MB_OK | MB_TOPMOST);
  ExitProcess(0);
}

void ReportMissingConverter() {
  MessageBoxA(glMainWnd,
              "（;‘ o‘）/Kelvo.exeを起動できませんでした。\r\n"
              "JPG・PNGでの保存と保存先の指定は使えません。BMPとクリップボードへの保存は使えます。",
              "TallSnap", MB_OK | MB_TOPMOST);
}

void FillFormatList() {
  HWND box = GetDlgItem(glMainWnd, kIdFormatBox);
  for (const FormatItem& item : kFormatItems) SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text));
}

// Only the text is set, not the list selection: the format is read back from the text.
void ShowRememberedFormat() {
  const FormatItem* item = FormatItemForKey(FirstChar(glFormatText));
  if (item != nullptr) SendMessageA(GetDlgItem(glMainWnd, kIdFormatBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(item->text));
  SetText(glFormatText, ControlText(glMainWnd, kIdFormatBox));
}

}  // namespace

void PrepareMainWindow() {
  RequireConverter("Kelvo.exe", "（;‘ o‘）/Kelvo.exeと同じフォルダに入れてお使いください。");
  RequireConverter("Tarvin.exe", "（;‘ o‘）/Tarvin.exeと同じフォルダに入れてお使いください。");
  std::memset(glNameHistory, 0, sizeof glNameHistory);
  LoadSettings();
  FillFormatList();
  ShowRememberedFormat();
  ShowStartLayout();
  SetTimer(glMainWnd, 0, 50, nullptr);
}

void ConnectConverter() {
  KillTimer(glMainWnd, 0);
  HWND rangeButton = GetDlgItem(glMainWnd, kIdRangeButton);
  EnableWindow(rangeButton, FALSE);
  // Without the converter, captures and BMP output still work; glConverterWnd stays empty so
  // that JPEG, PNG and save-dialog requests can tell.
  if (!LaunchAndFindWindow(glConverterWnd, "Kelvo.exe", KELVO_WINDOW_TITLE)) ReportMissingConverter();
  if (!MakeFrozenScreenSurfaces()) return;
  EnableWindow(rangeButton, TRUE);
}
