#pragma once
// In builds for development and tests, when the environment variable
// YXYT_AUDIO_TRACE names a file, every call into the library is appended to
// it as one line: name, arguments, result. Released builds never trace.
#include <string>

bool TraceEnabled();
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line for a failed step and the code it returned, such as
// "wasapi: IAudioClient::Initialize failed 0x8889000E".
void TraceFailure(const char* where, const char* step, long code);
// An ANSI path as UTF-8, so the trace is readable text whatever the code page.
std::string TraceText(const char* ansi);
