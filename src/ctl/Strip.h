#pragma once
#include <string>

namespace kor {
// Raw terminal output to plain text: OSC, CSI and two-byte escape sequences and carriage returns removed.
std::string stripAnsi(const std::string& text);
}
