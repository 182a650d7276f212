#pragma once
// How `run` carries CMD to the shell so that the shell reads back exactly CMD, whatever bytes
// it holds: in a here-document for a typed frame, as one word for `eval` in a pasted frame.
#include <cstddef>
#include <string>

namespace kor {

// No line `run` types is longer than this: a shell that reads the terminal in canonical mode
// keeps at most 4095 bytes of a line, busybox sh's line editor about 1024.
constexpr size_t kMaxTypedLine = 900;

// The here-document of a typed frame, from its operator to its delimiter line. When every line
// of cmd fits kMaxTypedLine it is quoted and its body is cmd itself: "<<'D'\n" cmd "\nD\n".
// Otherwise it is unquoted, "<<D\n", with "\", "$" and "`" escaped by a backslash and the
// lines continued by backslash-newline before they pass the limit, so the shell restores cmd.
std::string hereDocument(const std::string& cmd, const std::string& delimiter);

// How a pasted frame hands cmd to `eval`.
enum class PasteWord {
  // A single-quoted word that bash, zsh and fish all read as cmd: "'" is written '"'"' and
  // "\" is written '"\\"' (fish takes backslashes inside single quotes as escapes).
  kQuoted,
  // For fish, whose paste handling takes every quote and backslash one at a time (slow for a
  // long command): cmd percent-encoded, decoded by fish's own `string unescape`.
  kFishUnescape,
};

// The argument of `eval` that evaluates to exactly cmd.
std::string evalWord(const std::string& cmd, PasteWord style);

}  // namespace kor
