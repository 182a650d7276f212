#include "ctl/ControlDir.h"

#include <algorithm>
#include <filesystem>

#include "base/Paths.h"
#include "text/DisplayText.h"

namespace kor {

std::vector<std::string> scanControlDir() {
  std::vector<std::string> names;
  const std::string dir = controlDir();
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (hasSuffixAfterName(file, ".sock")) names.push_back(file.substr(0, file.size() - 5));
  }
  std::sort(names.begin(), names.end());
  return names;
}

Endpoint controlEndpoint(const std::string& name) { return Endpoint{printableText(name), controlSocketPath(name)}; }

}  // namespace kor
