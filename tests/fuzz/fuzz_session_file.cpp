// Saved-session files as korctl reads them from ~/.kor/sessions.
#include <stdexcept>

#include "FuzzSupport.h"
#include "terminal/SessionStore.h"

using namespace kor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzz::bytes(data, size);
  std::optional<SessionInfo> info;
  try {
    info = parseSessionText(text, "s");
  } catch (const std::invalid_argument&) {
    return 0;  // a number that is no number: the loader logs it and skips the file
  } catch (const std::out_of_range&) {
    return 0;
  }
  if (!info) return 0;
  FUZZ_CHECK(info->name == "s" && !info->host.empty() && !info->id.empty() && !info->passkey.empty());
  FUZZ_CHECK(info->port >= 1 && info->port <= 65535);
  // What was read is what the file holds: written out again, it reads back the same.
  const std::optional<SessionInfo> again = parseSessionText(formatSessionText(*info), "s");
  FUZZ_CHECK(again && again->host == info->host && again->port == info->port && again->id == info->id &&
             again->passkey == info->passkey && again->title == info->title && again->savedat == info->savedat);
  return 0;
}
