// Diagnostic lines for the debugger output; nothing depends on them.
#ifndef TALLSNAP_SETTINGS_TRACE_H
#define TALLSNAP_SETTINGS_TRACE_H

#include <string>

void TraceNumbers(const std::string& label, double a, double b, double c, double d, double e);
void TraceText(const std::string& label, const std::string& text);

#endif
