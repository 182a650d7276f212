// info: print a session's status record exactly as the daemon sent it.
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/Commands.h"

namespace kor {

int showInfo(const std::string& name) {
  std::string record;
  if (!fetchStatus(endpointOf(name), record)) return 1;
  const std::string text = record.substr(0, record.find('\0'));
  if (text.empty()) return 0;
  return writeStdout(text) ? 0 : 1;
}

}  // namespace kor
