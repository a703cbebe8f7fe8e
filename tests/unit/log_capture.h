// Test double of the launch log: the unit tests link this instead of the log
// file, and read back the lines the code under test wrote.
#pragma once

#include <string>
#include <vector>

#include "launcher/text.h"

namespace log_capture {
// Lines written since the last clear(), without prefix; errors start "ERROR: ".
const std::vector<wstring>& lines();
void clear();
bool contains(const wstring& line);
}  // namespace log_capture
