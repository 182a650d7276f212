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

// The names tmux gives the same keys, for users who type them from habit.
const NamedKey kTmuxKeys[] = {
    {"Enter", "\r"},        {"Tab", "\t"},          {"BSpace", "\x7f"},     {"Escape", "\x1b"},
    {"Space", " "},         {"Up", "\x1b[A"},       {"Down", "\x1b[B"},     {"Right", "\x1b[C"},
    {"Left", "\x1b[D"},     {"Home", "\x1b[H"},     {"End", "\x1b[F"},      {"PageUp", "\x1b[5~"},
    {"PgUp", "\x1b[5~"},    {"PPage", "\x1b[5~"},   {"PageDown", "\x1b[6~"}, {"PgDn", "\x1b[6~"},
    {"NPage", "\x1b[6~"},   {"DC", "\x1b[3~"},      {"IC", "\x1b[2~"},
};

const char* const kFunctionKeys[] = {
    "\x1bOP",    "\x1bOQ",    "\x1bOR",    "\x1bOS",    "\x1b[15~",  "\x1b[17~",
    "\x1b[18~",  "\x1b[19~",  "\x1b[20~",  "\x1b[21~",  "\x1b[23~",  "\x1b[24~",
};
constexpr size_t kFunctionKeyCount = sizeof kFunctionKeys / sizeof kFunctionKeys[0];

// Ctrl with one character: @, letters and [ \ ] ^ _ give 00..1F, ? gives DEL; nothing else
// has a control byte.
std::string controlByte(char c) {
  if (c == '?') return "\x7f";
  int upper = std::toupper(static_cast<unsigned char>(c));
  if (upper < 0x40 || upper > 0x5f) return "";
  return std::string(1, static_cast<char>(upper - 0x40));
}

std::string fixedKey(const std::string& name) {
  for (const NamedKey& key : kNamedKeys)
    if (name == key.name) return key.bytes;
  for (const NamedKey& key : kTmuxKeys)
    if (name == key.name) return key.bytes;
  if (name.size() >= 2 && (name[0] == 'f' || name[0] == 'F')) {
    // The number is read the way atoi reads it: "f05" and "f5x" are F5 too.
    long number = std::strtol(name.c_str() + 1, nullptr, 10);
    if (number >= 1 && number <= static_cast<long>(kFunctionKeyCount)) return kFunctionKeys[number - 1];
  }
  return "";
}

// tmux's modifiers: C-x is Ctrl-x (C-Space is NUL), M-x is Esc then x, for any key that is one
// byte (M-Enter, M-C-x); a modified cursor key has no single agreed sequence, so none is made.
std::string modifiedKey(const std::string& name) {
  if (name.size() < 3 || name[1] != '-') return "";
  const std::string rest = name.substr(2);
  if (name[0] == 'M') {
    std::string bytes = keyBytes(rest);
    return bytes.size() == 1 ? "\x1b" + bytes : "";
  }
  if (name[0] == 'C') {
    if (rest == "Space" || rest == "space") return std::string(1, '\0');
    if (rest.size() == 1) return controlByte(rest[0]);
  }
  return "";
}

void addWrapped(std::string& text, const std::vector<std::string>& names) {
  std::string line = " ";
  for (const std::string& name : names) {
    if (line.size() + 1 + name.size() > 78) {
      text += line + "\n";
      line = " ";
    }
    line += " " + name;
  }
  text += line + "\n";
}

}  // namespace

std::vector<std::string> keyNames() {
  std::vector<std::string> names;
  for (const NamedKey& key : kNamedKeys) names.push_back(key.name);
  for (size_t number = 1; number <= kFunctionKeyCount; ++number) names.push_back("f" + std::to_string(number));
  for (const NamedKey& key : kTmuxKeys) names.push_back(key.name);
  for (size_t number = 1; number <= kFunctionKeyCount; ++number) names.push_back("F" + std::to_string(number));
  return names;
}

std::string keyNamesHelp() {
  std::vector<std::string> own, tmux;
  for (const NamedKey& key : kNamedKeys) own.push_back(key.name);
  for (size_t number = 1; number <= kFunctionKeyCount; ++number) own.push_back("f" + std::to_string(number));
  for (const NamedKey& key : kTmuxKeys) tmux.push_back(key.name);
  for (size_t number = 1; number <= kFunctionKeyCount; ++number) tmux.push_back("F" + std::to_string(number));
  std::string text = "Key names:\n";
  addWrapped(text, own);
  text += "\nAlso as tmux spells them:\n";
  addWrapped(text, tmux);
  text += "\n"
          "  Any other single character is typed as it is. ^X and C-x type Ctrl-X (^C, C-c, ^[,\n"
          "  C-Space for NUL); ^? and C-? type DEL (0x7F). M-x types Esc, then x (M-b, M-Enter,\n"
          "  M-C-x).\n";
  return text;
}

std::string keyBytes(const std::string& keyName) {
  std::string bytes = fixedKey(keyName);
  if (!bytes.empty()) return bytes;
  if (keyName.size() == 1) return keyName;
  if (keyName.size() == 2 && keyName[0] == '^') return controlByte(keyName[1]);
  return modifiedKey(keyName);
}

}  // namespace kor
