// Texts are Shift-JIS (code page 932) byte strings with an explicit length, in TallSnap and in
// its converters alike; std::string carries both and may hold zero bytes, which the save-dialog
// filter lists rely on.
#ifndef TALLSNAP_SHARED_TEXT_H
#define TALLSNAP_SHARED_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

// The number texts of trace lines, message boxes and converter files.
std::string NumToText(double v);
std::string IntToText(int32_t v);
// count 0 means the whole text; stops at the first byte that is not a digit.
int32_t TextToInt(const std::string& text, size_t count = 0);

// The text with its single-byte ASCII capitals made small; double-byte characters unchanged.
std::string AsciiLower(std::string text);

std::string StrJoin(const std::string& first, const std::string& second);
std::string CharToStr(int code);
int FirstChar(const std::string& text);

std::string TraceNumbersLine(const std::string& label, double a, double b, double c, double d, double e);
std::string TraceTextLine(const std::string& label, const std::string& text);

// Lead bytes of a double-byte character in code page 932 (as IsDBCSLeadByte under CP932).
inline bool IsSjisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The bytes of the character that starts at text[at] (at < len): 2 for a lead byte followed by a
// byte that may follow one (0x40-0x7E, 0x80-0xFC), else 1. A lead byte at the end, or before any
// other byte, stands alone and the byte after it is a character of its own: the ':' of a stored
// name "\x95:30" is a ':'. Every walk over a text's characters steps by this.
size_t SjisCharBytes(const char* text, size_t len, size_t at);
inline size_t SjisCharBytes(const std::string& text, size_t at) { return SjisCharBytes(text.data(), text.size(), at); }

// The longest prefix of at most maxBytes bytes that does not end inside a double-byte character.
size_t SjisCutLength(const char* text, size_t len, size_t maxBytes);

// Copies text into a fixed buffer of cap bytes, cut at a character boundary so that it always
// fits with its terminating zero; returns the number of text bytes stored.
size_t CopyTextBounded(char* dst, size_t cap, const char* text, size_t len);
inline size_t CopyTextBounded(char* dst, size_t cap, const std::string& text) {
  return CopyTextBounded(dst, cap, text.data(), text.size());
}
template <size_t N>
size_t SetText(char (&dst)[N], const std::string& text) { return CopyTextBounded(dst, N, text); }

#endif
