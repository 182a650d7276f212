#include "ctl/Strip.h"

#include <regex>

namespace kor {

// Placeholder until the scanner lands: the three replacements, then carriage returns.
std::string stripAnsi(const std::string& text) {
  static const std::regex osc("\x1b\\][^\x07\x1b]*(\x07|\x1b\\\\)");
  static const std::regex csi("\x1b\\[[0-9;?]*[ -/]*[@-~]");
  static const std::regex two("\x1b[@-Z\\\\-_]");
  std::string out = std::regex_replace(text, osc, "");
  out = std::regex_replace(out, csi, "");
  out = std::regex_replace(out, two, "");
  std::string result;
  result.reserve(out.size());
  for (char c : out)
    if (c != '\r') result += c;
  return result;
}

}  // namespace kor
