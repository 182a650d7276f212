#pragma once
// The one include of the logging library; every record goes through its logger "default".
#include <easylogging++.h>
