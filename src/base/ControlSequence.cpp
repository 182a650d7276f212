#include "base/ControlSequence.h"

namespace kor {

ControlSequence splitControlSequence(const std::string& body) {
  ControlSequence parts;
  size_t i = 0;
  if (!body.empty() && body[0] >= 0x3c && body[0] <= 0x3f) parts.leader = body[i++];
  long value = -1;
  bool any = false;
  for (; i < body.size() && body[i] >= 0x30 && body[i] <= 0x3f; ++i) {
    const char c = body[i];
    any = true;
    if (c >= '0' && c <= '9') {
      value = (value < 0 ? 0 : value) * 10 + (c - '0');
      if (value > 100000) value = 100000;
    } else {
      parts.params.push_back(value);
      value = -1;
    }
  }
  if (any) parts.params.push_back(value);
  parts.intermediates = body.substr(i);
  return parts;
}

long sequenceParam(const ControlSequence& sequence, size_t index) {
  return index < sequence.params.size() ? sequence.params[index] : -1;
}

}  // namespace kor
