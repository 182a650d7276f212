#pragma once
// The one include of the logging library; every record goes through its logger "default".
// The library's storage (its loggers and their configuration) is built on the first record,
// not before main: most runs write none, and building it costs more than the rest of a short
// command's start-up. Its crash handlers are installed before main as ever.
#include <easylogging++.h>

namespace kor {
// Builds the logging library's storage unless it is there.
void ensureLogging();
}  // namespace kor

#undef LOG
#define LOG(LEVEL) ::kor::ensureLogging(), CLOG(LEVEL, ELPP_CURR_FILE_LOGGER_ID)
