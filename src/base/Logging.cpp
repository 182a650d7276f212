#include "base/Logging.h"

namespace {

// The library's default crash handling, with the storage it logs through built first.
void onCrash(int sig) {
  kor::ensureLogging();
  el::Helpers::logCrashReason(sig, true, el::Level::Fatal, el::base::consts::kDefaultLoggerId);
  el::Helpers::crashAbort(sig);
}

}  // namespace

// What INITIALIZE_EASYLOGGINGPP sets up, with the storage left empty until the first record.
namespace el {
namespace base {
el::base::type::StoragePointer elStorage;
}  // namespace base
el::base::debug::CrashHandler elCrashHandler(onCrash);
}  // namespace el

namespace kor {

void ensureLogging() {
  if (!el::base::elStorage)
    el::base::elStorage.reset(new el::base::Storage(el::LogBuilderPtr(new el::base::DefaultLogBuilder())));
}

}  // namespace kor
