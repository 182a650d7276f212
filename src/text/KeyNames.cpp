#include "text/KeyNames.h"

#include <cctype>
#include <cstdlib>

namespace kor {

namespace {

struct NamedKey {
  const char* name;
  const char* bytes;
};

const NamedKey kNamedKeys[] = {
    {"tab", "\t"},           {"esc", "\x1b"},          {"escape", "\x1b"},       {"return", "\r"},
    {"enter", "\r"},         {"space", " "},           {"backspace", "\x7f"},    {"interrupt", "\x03"},
    {"eof", "\x04"},         {"up", "\x1b[A"},         {"down", "\x1b[B"},       {"right", "\x1b[C"},
    {"left", "\x1b[D"},      {"home", "\x1b[H"},       {"end", "\x1b[F"},        {"pageup", "\x1b[5~"},
    {"pagedown", "\x1b[6~"}, {"delete", "\x1b[3~"},    {"del", "\x1b[3~"},       {"insert", "\x1b[2~"},
};

const char* const kFunctionKeys[] = {
    "\x1bOP",    "\x1bOQ",    "\x1bOR",    "\x1bOS",    "\x1b[15~",  "\x1b[17~",
    "\x1b[18~",  "\x1b[19~",  "\x1b[20~",  "\x1b[21~",  "\x1b[23~",  "\x1b[24~",
};

}  // namespace

std::string keyNamesHelp() {
  std::string text = "Key names:\n";
  std::string line = " ";
  auto add = [&](const std::string& name) {
    if (line.size() + 1 + name.size() > 78) {
      text += line + "\n";
      line = " ";
    }
    line += " " + name;
  };
  for (const NamedKey& key : kNamedKeys) add(key.name);
  for (size_t number = 1; number <= sizeof kFunctionKeys / sizeof kFunctionKeys[0]; ++number)
    add("f" + std::to_string(number));
  text += line + "\n\n";
  text += "  Any other single character is typed as it is; ^X types Ctrl-X (^C, ^D, ^[, ...).\n";
  return text;
}

std::string keyBytes(const std::string& keyName) {
  for (const NamedKey& key : kNamedKeys)
    if (keyName == key.name) return key.bytes;
  if (keyName.size() >= 2 && (keyName[0] == 'f' || keyName[0] == 'F')) {
    // The number is read the way atoi reads it: "f05" and "f5x" are F5 too.
    long number = std::strtol(keyName.c_str() + 1, nullptr, 10);
    if (number >= 1 && number <= 12) return kFunctionKeys[number - 1];
  }
  if (keyName.size() == 1) return keyName;
  if (keyName.size() == 2 && keyName[0] == '^') {
    int upper = std::toupper(static_cast<unsigned char>(keyName[1]));
    return std::string(1, static_cast<char>(static_cast<unsigned char>((upper - 64) & 0xff)));
  }
  return "";
}

}  // namespace kor
