#pragma once
#include <string>

namespace kor {
// The help of `open`: the generic command help with its own usage line and the pass-through note.
std::string openHelpText();
}
