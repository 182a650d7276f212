#include "base/Logging.h"

INITIALIZE_EASYLOGGINGPP
