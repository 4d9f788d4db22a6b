#include "output/finish_core.h"

#include "output/paths.h"
#include "shared/text.h"

bool RememberName(std::vector<std::string>& history, const std::string& name) {
  for (const std::string& known : history)
    if (AsciiLower(known) == AsciiLower(name)) return false;
  if (history.size() == kNameHistorySize) history.erase(history.begin());
  history.push_back(name);
  return true;
}

const FormatItem kFormatItems[kFormatItemCount] = {
    {'j', "jpg (写真向け、劣化、ﾌｧｲﾙｻｲｽﾞ小)", "JPG(*.jpg)", {".jpg"}},
    {'p', "png (イラスト向け、無劣化、ﾌｧｲﾙｻｲｽﾞ中)", "PNG(*.png)", {".png"}},
    {'b', "bmp (何かの作業向け、無劣化、ﾌｧｲﾙｻｲｽﾞ大)", "BMP(*.bmp)", {".bmp"}},
    {'3', "3種類全て作ってみる！ おためし！", "3種類", {".bmp", ".png", ".jpg"}},
    {'B', "BMPをクリップボードに保存", nullptr, {}},
};

const FormatItem* FormatItemForKey(int firstByte) {
  for (const FormatItem& item : kFormatItems)
    if (static_cast<unsigned char>(item.key) == firstByte) return &item;
  return nullptr;
}

namespace {

FinishStep Keep(std::string problem) { return {FinishAct::Keep, std::move(problem)}; }

// A path the files may be written under, or the problem with it.
FinishStep WriteTo(const std::string& path, const char* whose) {
  const std::string forbidden = ForbiddenInPath(path);
  if (!forbidden.empty())
    return Keep(std::string(whose) + "に、ファイル名に使えない文字" + forbidden +
                "が入っています。ほかの文字に変えてください。\r\n" + path);
  if (path.size() > kLongestPath) return Keep("保存先のパスが長すぎます。\r\n" + path);
  return {FinishAct::WriteFiles, path};
}

}  // namespace

FinishStep NextFinishStep(const FinishFacts& facts) {
  if (facts.name.size() > kLongestName) return Keep("名前が長すぎます。短くしてください。");
  const FormatItem* format = FormatItemForKey(facts.formatKey);
  if (format == nullptr) return Keep("保存形式が選ばれていません。保存形式を選んでください。");
  if (format->extensions.empty()) return {FinishAct::CopyToClipboard, std::string()};
  // The name is the file's name on the desktop, the dialog's first choice and the fallback
  // BMP's name: it must be one Windows takes on every route.
  const std::string forbidden = ForbiddenInName(facts.name);
  if (!forbidden.empty())
    return Keep("名前に、ファイル名に使えない文字" + forbidden + "が入っています。ほかの文字に変えてください。");
  if (facts.desktopChecked) return WriteTo(facts.desktopFolder + "\\" + facts.name, "保存先");
  if (!facts.asked) return {FinishAct::AskLocation, std::string()};
  switch (facts.answer) {
    // People cancel a save dialog to change the format or the name, or because they opened it by
    // mistake: the capture is not thrown away with it.
    case SaveAnswer::Cancelled: return {FinishAct::KeepQuietly, std::string()};
    case SaveAnswer::NoConverter:
      return {FinishAct::SaveFallback, "（;‘ o‘）/Kelvo.exeが動いていないため、保存先を選べませんでした。"};
    case SaveAnswer::NoReply:
      return {FinishAct::SaveFallback, "（;‘ o‘）/Kelvo.exeから保存先の返事がありませんでした。"};
    case SaveAnswer::Chosen: break;
  }
  return WriteTo(facts.chosenPath, "選んだ保存先");
}

std::string KeptImageMessage(const std::string& problem) {
  return problem + "\r\n\r\n画像はまだTallSnapにあります。直してから、もう一度「終わる」を押してください。";
}
