#include "settings/trace.h"

#include <windows.h>

#include "shared/text.h"

void TraceNumbers(const std::string& label, double a, double b, double c, double d, double e) {
  OutputDebugStringA(TraceNumbersLine(label, a, b, c, d, e).c_str());
}

void TraceText(const std::string& label, const std::string& text) {
  OutputDebugStringA(TraceTextLine(label, text).c_str());
}
