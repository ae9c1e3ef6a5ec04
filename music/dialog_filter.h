#pragma once
// Turns "description|pattern|..." into the NUL-separated, double-NUL-ended
// list that the open-file dialog expects.
#include <string>

std::string BuildDialogFilter(const std::string& pipeSeparated);
