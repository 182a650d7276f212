#pragma once
// Text that came from outside (file names on disk, fields a daemon or a saved session gave)
// made safe to show in one cell of a table or one line of a message. Pure, no I/O.
#include <string>

namespace kor {

// Printable ASCII and well-formed UTF-8 of printable characters stay as they are; a backslash
// becomes \\; control characters (C0, DEL, C1), and bytes that are no well-formed UTF-8,
// become \t, \n, \r or \xHH. The result never holds a byte a terminal acts on.
std::string printableText(const std::string& text);

}  // namespace kor
