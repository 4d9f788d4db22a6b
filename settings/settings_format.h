// Byte formats of the settings files, kept apart from the file I/O so they can be tested on
// plain buffers.
#ifndef TALLSNAP_SETTINGS_FORMAT_H
#define TALLSNAP_SETTINGS_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

// Longest line FileReadLine keeps (its 1004-byte buffer less the terminator).
constexpr size_t kLineMaxBytes = 1003;
// Longest coordinate text in MainWnd.txt (its 12-byte buffer less the terminator).
constexpr size_t kCoordMaxBytes = 11;

// Line n (from 0) of file content: a zero byte ends the content; CR, LF and their two-byte
// pairs are one break; bytes below 0x20 are dropped.
std::string ExtractLine(const char* bytes, size_t len, int n);

struct WindowPos {
  int32_t left;
  int32_t top;
};
// Only CR LF ends a line here; a coordinate not found, or not starting with a digit, is 0.
WindowPos ParseMainWndPos(const char* bytes, size_t len);
// The text written to MainWnd.txt before its terminating zero byte.
std::string FormatMainWndPos(int32_t left, int32_t top);

// The save folder from the first line of FileHozonPath.txt: the desktop when the line is too
// short to be a folder, or too long for a buffer of capacity bytes (cut, it would name another).
std::string SaveFolderFromLine(const std::string& line, const std::string& desktop, size_t capacity);

// Cuts path before its last "." (folders included) and returns the cut-off part, dot and all.
std::string SplitExtension(std::string& path);

#endif
