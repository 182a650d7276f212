#pragma once
// The parts of a control sequence (ESC [ ... final), and the controls around sequences.
#include <string>
#include <vector>

namespace kor {

// The controls that start, end and break off escape sequences and strings.
constexpr char kEsc = 0x1b;
constexpr char kBel = 0x07;  // ends a string
constexpr char kCan = 0x18;  // CAN and SUB break off whatever sequence is open
constexpr char kSub = 0x1a;

struct ControlSequence {
  char leader = 0;           // one of < = > ? before the parameters, or 0
  std::vector<long> params;  // -1 for a parameter left out; values saturate at 100000
  std::string intermediates; // bytes 0x20 to 0x2f (and anything after them) before the final
};

// body: the bytes between "ESC [" and the final byte, controls left out. ';' and ':' both
// separate parameters.
ControlSequence splitControlSequence(const std::string& body);

// The parameter at index, -1 when it is missing.
long sequenceParam(const ControlSequence& sequence, size_t index);

}  // namespace kor
