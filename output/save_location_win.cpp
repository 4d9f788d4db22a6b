#include "output/save_location.h"

#include <cstring>

#include "output/converter_link.h"
#include "output/paths.h"
#include "settings/files.h"
#include "settings/trace.h"
#include "shared/converter_protocol.h"
#include "shared/text.h"
#include "state/state.h"

namespace {

// Every item but the last is taken at once; the last one lasts as long as the user's dialog.
constexpr UINT kItemTimeoutMs = 10000;
constexpr UINT kDialogTimeoutMs = 60 * 60 * 1000;

void SendItem(HWND owner, ULONG_PTR kind, const void* bytes, DWORD count, UINT timeoutMs) {
  COPYDATASTRUCT data{kind, count, const_cast<void*>(bytes)};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(glConverterWnd, WM_COPYDATA, reinterpret_cast<WPARAM>(owner), reinterpret_cast<LPARAM>(&data),
                      SMTO_ABORTIFHUNG, timeoutMs, &ignored);
}

// A text item: the text, its zero byte and one byte more.
void SendText(HWND owner, ULONG_PTR kind, std::string text, UINT timeoutMs = kItemTimeoutMs) {
  const DWORD count = static_cast<DWORD>(text.size() + 2);
  text.append(2, '\0');
  SendItem(owner, kind, text.data(), count, timeoutMs);
}

}  // namespace

SaveAnswer AskSaveLocation(HWND owner, const std::string& fileTypeText, const std::string& title,
                           const std::string& defaultName) {
  if (!EnsureConverter()) return SaveAnswer::NoConverter;
  std::memset(SentakuFileName, 0, sizeof SentakuFileName);
  const std::string filter = FilterBlockFor(fileTypeText);
  const std::string folder = SaveRequestFolder(FileHozonFolderPath);

  // No reply is no choice: an old reply must never be taken for a new one.
  glReplyLen = static_cast<int>(StoreReplyBytes(glReplyBuf, kReplyBufBytes, nullptr, 0));
  // An empty reply is a cancel; no reply at all is not, and must not cost the image.
  glReplyArrived = 0;
  SendItem(owner, kFilterItem, filter.data(), static_cast<DWORD>(filter.size()), kItemTimeoutMs);
  SendText(owner, kDefaultNameItem, defaultName);
  SendText(owner, kFolderItem, folder);
  SendText(owner, kTitleItem, title);
  const uint32_t handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(owner));
  SendItem(owner, static_cast<ULONG_PTR>(handle), &handle, 4, kItemTimeoutMs);
  SendText(owner, kStartItem, NumToText(1), kDialogTimeoutMs);

  if (glReplyArrived == 0) return SaveAnswer::NoReply;

  TraceText("●●●　最後が￥　拡張子をつけないでおくとこうなる FileHozonFolderPath", FileHozonFolderPath);
  TraceText("●●●　最後が￥　拡張子をつけないでおくとこうなる SentakuFileName[0]", SentakuFileName[0]);
  TraceText("●●●　最後が￥　拡張子をつけないでおくと 修正 FileHozonFolderPath", FileHozonFolderPath);
  TraceText("●●●　最後が￥　拡張子をつけないでおくと 修正 SentakuFileName[0]", SentakuFileName[0]);

  const ReplyPaths reply = ParseReplyPaths(glReplyBuf, static_cast<size_t>(glReplyLen), kSelectedNameCount);
  // A cancel changes nothing that is remembered: the next dialog opens where this one did.
  if (reply.names.empty()) return SaveAnswer::Cancelled;
  if (reply.names.size() == 1 && SplitPath(std::string(glReplyBuf)).valid)
    TraceNumbers("ファイル名が存在した！！→ファイル１つだけだった！", 0, 0, 0, 0, 0);
  SetText(FileHozonFolderPath, reply.folder);
  for (size_t i = 0; i < reply.names.size(); ++i) SetText(SentakuFileName[i], reply.names[i]);
  FileWriteText(kSaveFolderFile, FileHozonFolderPath);
  return SentakuFileName[0][0] != '\0' ? SaveAnswer::Chosen : SaveAnswer::Cancelled;
}
