#pragma once
// Decoding through Media Foundation (Windows only): WMA and whatever else
// the system has a codec for.
#include "decoder.h"

// A decoder of the file at the ANSI `path`; null when Media Foundation is
// missing or cannot decode it.
std::unique_ptr<Decoder> OpenMf(const char* path);
