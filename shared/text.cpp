#include "shared/text.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

struct DigitRecord {
  char digits[15];  // values 0..9
  int exponent;     // digits standing before the decimal point
  bool negative;
};

DigitRecord MakeDigits(double v) {
  DigitRecord r{};
  if (v == 0) return r;
  r.negative = v < 0;
  double m = std::fabs(v);
  r.exponent = 1;
  // The bounds sit just inside [1, 10) so that the rounding carry below never runs past the
  // first digit.
  while (m < 0.999999999999999) { m = m * 10; r.exponent--; }
  while (m >= 9.99999999999999) { m = m / 10; r.exponent++; }
  for (char& d : r.digits) {
    double digit = std::floor(m);
    d = static_cast<char>(digit);
    m = (m - digit) * 10;
  }
  if (m >= 5) {
    for (int i = 14; i >= 0; --i) {
      if (++r.digits[i] < 10) break;
      r.digits[i] = 0;
    }
  }
  return r;
}

std::string Mantissa(const DigitRecord& r) {
  std::string s(1, static_cast<char>('0' + r.digits[0]));
  s += '.';
  for (int i = 1; i < 15; ++i) s += static_cast<char>('0' + r.digits[i]);
  return s;
}

}  // namespace

std::string NumToText(double v) {
  const DigitRecord r = MakeDigits(v);
  std::string out = r.negative ? "-" : "";
  const int e = r.exponent;
  if (e > 15 || e < -3) {
    char exp[16];
    std::snprintf(exp, sizeof exp, e > 15 ? "+%03d" : "%03d", e - 1);
    return out + Mantissa(r) + "e" + exp;
  }
  std::string fixed;
  if (e >= 1) {
    for (int i = 0; i < e; ++i) fixed += static_cast<char>('0' + r.digits[i]);
    fixed += '.';
    for (int i = e; i < 15; ++i) fixed += static_cast<char>('0' + r.digits[i]);
  } else {
    fixed = "0.";
    fixed.append(static_cast<size_t>(-e), '0');
    for (char d : r.digits) fixed += static_cast<char>('0' + d);
  }
  while (!fixed.empty() && fixed.back() == '0') fixed.pop_back();
  if (!fixed.empty() && fixed.back() == '.') fixed.pop_back();
  return out + fixed;
}

std::string IntToText(int32_t v) {
  // Negative values only arise for window edges; the leading "-" reads back as 0.
  uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  char buf[12];
  int pos = sizeof buf;
  do {
    buf[--pos] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (v < 0) buf[--pos] = '-';
  return std::string(buf + pos, sizeof buf - static_cast<size_t>(pos));
}

int32_t TextToInt(const std::string& text, size_t count) {
  if (count == 0 || count > text.size()) count = text.size();
  uint32_t value = 0;  // two's-complement wrap, as the stored coordinates expect
  for (size_t i = 0; i < count; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < '0' || c > '9') break;
    value = value * 10u + (c - '0');
  }
  return static_cast<int32_t>(value);
}

size_t SjisCharBytes(const char* text, size_t len, size_t at) {
  if (!IsSjisLeadByte(static_cast<unsigned char>(text[at])) || at + 1 >= len) return 1;
  const unsigned char next = static_cast<unsigned char>(text[at + 1]);
  return (next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC) ? 2 : 1;
}

std::string AsciiLower(std::string text) {
  // The second byte of a double-byte character may have a capital's value (ア is 83 41): it is
  // part of that character, never a letter.
  for (size_t i = 0; i < text.size(); i += SjisCharBytes(text, i))
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] - 'A' + 'a');
  return text;
}

std::string StrJoin(const std::string& first, const std::string& second) { return first + second; }

std::string CharToStr(int code) { return std::string(1, static_cast<char>(code & 0xFF)); }

int FirstChar(const std::string& text) { return text.empty() ? 0 : static_cast<unsigned char>(text[0]); }

std::string TraceNumbersLine(const std::string& label, double a, double b, double c, double d, double e) {
  return label + "=" + NumToText(a) + ", " + NumToText(b) + ", " + NumToText(c) + ", " + NumToText(d) +
         ", " + NumToText(e) + "\r\n";
}

std::string TraceTextLine(const std::string& label, const std::string& text) { return label + text + "\r\n"; }

size_t SjisCutLength(const char* text, size_t len, size_t maxBytes) {
  if (len <= maxBytes) return len;
  size_t pos = 0;
  while (pos < maxBytes) {
    const size_t step = SjisCharBytes(text, len, pos);
    if (pos + step > maxBytes) break;
    pos += step;
  }
  return pos;
}

size_t CopyTextBounded(char* dst, size_t cap, const char* text, size_t len) {
  if (cap == 0) return 0;
  const size_t n = SjisCutLength(text, len, cap - 1);
  if (n != 0) std::memmove(dst, text, n);
  dst[n] = '\0';
  return n;
}
