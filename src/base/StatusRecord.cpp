#include "base/StatusRecord.h"

#include <cctype>
#include <climits>

namespace kor {

long long parseLongLong(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned long long value = 0;
  const unsigned long long limit = negative ? static_cast<unsigned long long>(LLONG_MAX) + 1 : LLONG_MAX;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = value * 10 + digit;
  }
  if (negative) return value == limit ? LLONG_MIN : -static_cast<long long>(value);
  return static_cast<long long>(value);
}

long long statusFieldIn(const std::string& record, const std::string& key) {
  const std::string prefix = key + "=";
  size_t start = 0;
  while (start <= record.size()) {
    size_t end = record.find('\n', start);
    if (end == std::string::npos) end = record.size();
    if (record.compare(start, prefix.size(), prefix) == 0 && end - start >= prefix.size())
      return parseLongLong(record.substr(start + prefix.size(), end - start - prefix.size()));
    if (end == record.size()) break;
    start = end + 1;
  }
  return -1;
}

StatusMap parseStatusRecord(const std::string& record) {
  StatusMap map;
  size_t start = 0;
  while (start < record.size()) {
    size_t end = record.find('\n', start);
    if (end == std::string::npos) end = record.size();
    std::string line = record.substr(start, end - start);
    size_t eq = line.find('=');
    if (eq != std::string::npos) map[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return map;
}

bool fetchStatus(const Endpoint& endpoint, std::string& record) {
  uint8_t replyType = 0;
  return controlExchange(endpoint, kStatus, "", replyType, record, false);
}

long long statusField(const Endpoint& endpoint, const std::string& key) {
  std::string record;
  if (!fetchStatus(endpoint, record)) return -1;
  return statusFieldIn(record, key);
}

long long headCursorOf(const Endpoint& endpoint) { return statusField(endpoint, "headCursor"); }

StatusMap statusFields(const Endpoint& endpoint) {
  std::string record;
  if (!fetchStatus(endpoint, record)) return {};
  return parseStatusRecord(record);
}

}  // namespace kor
