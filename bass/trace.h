#pragma once
// When the environment variable YXYT_AUDIO_TRACE names a file, every call
// into the library is appended to it as one line: name, arguments, result.
#include <string>

bool TraceEnabled();
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// An ANSI path as UTF-8, so the trace is readable text whatever the code page.
std::string TraceText(const char* ansi);
