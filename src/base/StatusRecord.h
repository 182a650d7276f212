#pragma once
#include <map>
#include <string>

#include "base/ControlClient.h"

namespace kor {

using StatusMap = std::map<std::string, std::string>;

// The value of key as a number (like atoll) from the first line "key=...", -1 when no line has it.
long long statusFieldIn(const std::string& record, const std::string& key);
// Every "key=value" line; the last occurrence of a key wins.
StatusMap parseStatusRecord(const std::string& record);
// Like atoll, but saturating instead of overflowing.
long long parseLongLong(const std::string& text);

// One status request each (not quiet): the record, one field (-1 when the request failed or
// the field is missing), the head cursor, or the whole map (empty when the request failed).
bool fetchStatus(const Endpoint& endpoint, std::string& record);
long long statusField(const Endpoint& endpoint, const std::string& key);
long long headCursorOf(const Endpoint& endpoint);
StatusMap statusFields(const Endpoint& endpoint);

}  // namespace kor
