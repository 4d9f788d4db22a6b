// Paths, names and replies of the output, with no file system in sight: the splitter that
// knows double-byte characters, the save dialog's filter block and reply, the numbering.
#ifndef TALLSNAP_OUTPUT_PATHS_H
#define TALLSNAP_OUTPUT_PATHS_H

#include <functional>
#include <string>
#include <vector>

// The parts of a drive-letter path (C:\dir\name.ext) or a network path (\\server\share\name.ext,
// with no drive). A relative path has no parts. A double-byte character is never read as "\"
// or ".", so the second byte of 表 (0x5C) is not a separator.
struct PathParts {
  std::string drive;    // "C:"
  std::string folders;  // "\dir\", up to and including the last "\"
  std::string name;     // "name"
  std::string extension;  // ".ext", empty when there is none
  bool valid = false;
};
PathParts SplitPath(const std::string& path);

// Field k (from 0) of text between separator bytes; false when neither a byte was copied nor
// the separator ending the field was reached.
bool GetField(const std::string& text, char separator, int k, std::string& out);

// The save dialog's filter block for a comma-separated file-type text: description and pattern
// pairs, each zero-terminated, the all-files pair last, then one more zero byte.
std::string FilterBlockFor(const std::string& fileTypeText);

// The converter's reply: a single full path, or a folder followed by names (each
// zero-terminated, an empty text ending the list, a name shorter than 2 bytes too). folder
// ends in "\"; an empty reply (cancel), or one that is no drive-letter path, gives no names.
struct ReplyPaths {
  std::string folder;
  std::vector<std::string> names;
};
ReplyPaths ParseReplyPaths(const char* reply, size_t len, size_t maxNames = 100);

// The initial folder as the save dialog is sent it: one trailing "\" removed.
std::string SaveRequestFolder(const std::string& folder);

// drive + folders + name + extension: the old extension is dropped.
std::string ReplaceExtension(const std::string& path, const std::string& extension);
// drive + folders, ending in "\".
std::string FolderOfPath(const std::string& path);

// A name no file has: path itself when free, else the stem's trailing number (modulo 256)
// counted up in "%s%03d%s". exists says whether a name is taken; a name Windows keeps for a
// device (NUL, CON, AUX.bmp ...) is taken whatever it says. False when all 256 numbers of the
// stem are taken: nothing may be written then.
bool NextFreeName(std::string& path, const std::function<bool(const std::string&)>& exists);

// What makes a file name one Windows refuses, for the user to read ("" when there is nothing):
// the first of \ / : * ? " < > | or a control character. The second byte of a double-byte
// character (0x5C in 表, 0x7C in ポ) belongs to it and is never read as one of these. NTFS
// would take "12:30" as a stream of the file "12", so a write would seem to work.
std::string ForbiddenInName(const std::string& name);
// The same over a whole path: its drive (C:) or the leading \\ of a network path, and each
// "\" between folders, are allowed.
std::string ForbiddenInPath(const std::string& path);

// Whether the name ends in jpg, png, gif, bmp or tiff (or avi when allowed), in any case.
bool IsImageFileName(const std::string& name, bool allowAvi);

#endif
