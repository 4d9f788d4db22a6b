// The finish command's rules that need no window: the name history, and which way a finish
// goes and what the user is told.
#ifndef TALLSNAP_OUTPUT_FINISH_CORE_H
#define TALLSNAP_OUTPUT_FINISH_CORE_H

#include <string>
#include <vector>

constexpr size_t kNameHistorySize = 20;

// Adds name to the history unless it is there already (letters compared without case); a full
// history drops its oldest name. True when the name was added (and belongs in the name box).
bool RememberName(std::vector<std::string>& history, const std::string& name);

// The formats of the format list, in its order: the key (the first byte of the format's text,
// which selects it), the text in the list, and for a format written to files the save dialog's
// file type and the extensions written, in this order; the clipboard has no files.
struct FormatItem {
  char key;
  const char* text;
  const char* fileTypeText;
  std::vector<const char*> extensions;
};
constexpr int kFormatItemCount = 5;
extern const FormatItem kFormatItems[kFormatItemCount];

// The item whose key is this first byte, or nullptr ("b" and "B" differ).
const FormatItem* FormatItemForKey(int firstByte);

// The save dialog's outcome, as TallSnap reads the converter's answer.
enum class SaveAnswer {
  Chosen,       // SentakuFileName[0] holds the chosen name, FileHozonFolderPath its folder
  Cancelled,    // the user closed the dialog without a choice
  NoConverter,  // there is no converter to ask: nothing was changed
  NoReply,      // the converter never answered (hung, refused the request, or its dialog failed)
};

// What a finish knows when it decides its next step.
struct FinishFacts {
  int formatKey = 0;  // first byte of the format text
  bool desktopChecked = false;
  std::string name;           // the name box's text
  std::string desktopFolder;  // no trailing "\"
  bool asked = false;         // the save dialog has been shown; answer and chosenPath tell
  SaveAnswer answer = SaveAnswer::Cancelled;
  std::string chosenPath;
};

enum class FinishAct {
  AskLocation,      // show the save dialog, then decide again with its answer
  CopyToClipboard,  // the image goes onto the clipboard
  WriteFiles,       // text is the output path
  SaveFallback,     // text says why; the image goes into a numbered BMP whose path a message names
  KeepQuietly,      // the user cancelled the save dialog: nothing is written or said, and the image stays
  Keep,             // text is the problem: the image stays with TallSnap so that the user can put it right
};
struct FinishStep {
  FinishAct act;
  std::string text;
};

// The longest name the name box may hold, and the longest output path, in bytes.
constexpr size_t kLongestName = 259;
constexpr size_t kLongestPath = 263;

// The finish's next step. Only the user's cancel ends it without a word; a name or path that
// Windows would refuse, or would take for something else, keeps the image.
FinishStep NextFinishStep(const FinishFacts& facts);

// The message shown when the image stays with TallSnap.
std::string KeptImageMessage(const std::string& problem);

#endif
