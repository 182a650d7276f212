#include "text/ShellTraits.h"

#include <sstream>

#include "text/OscFrame.h"

namespace kor {

const std::string kSetupEcho = "KORCTL_EC=";

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether word is followed by a digit somewhere in text.
bool wordThenDigit(const std::string& text, const std::string& word) {
  for (size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) {
    size_t q = p + word.size();
    if (q < text.size() && isDigit(text[q])) return true;
  }
  return false;
}

}  // namespace

bool parseFramingContent(const std::string& content, ShellTraits& traits) {
  std::istringstream in(content);
  int paste, osc, status;
  if (!(in >> paste >> osc >> status)) return false;
  if (paste < 0 || osc < 0) return false;
  traits.pasteCapable = paste != 0;
  traits.oscMarks = osc != 0;
  traits.statusVar = status != 0;
  return true;
}

std::string framingContent(const ShellTraits& traits) {
  std::string text;
  text += traits.pasteCapable ? '1' : '0';
  text += ' ';
  text += traits.oscMarks ? '1' : '0';
  text += ' ';
  text += traits.statusVar ? '1' : '0';
  text += '\n';
  return text;
}

bool showsPasteSwitch(const std::string& text) { return text.find("\x1b[?2004") != std::string::npos; }

bool showsOscMarks(const std::string& text) { return text.find("\x1b]133;") != std::string::npos; }

bool shellLooksBusy(const std::string& recent) {
  // The set-up line as typed: its echo still holds the unexpanded variable.
  const size_t typed = recent.rfind(kSetupEcho + "$status");
  if (typed != std::string::npos && !hasSetupEcho(recent.substr(typed))) return true;
  char last = 0;
  OscMark mark;
  for (size_t from = 0;;) {
    size_t at = recent.find("\x1b]133;", from);
    if (at == std::string::npos || at + 6 >= recent.size()) break;
    if (findOscMark(recent, at, recent[at + 6], mark) && mark.start == at) last = recent[at + 6];
    from = at + 1;
  }
  return last == 'C';
}

bool SetupEchoSearch::search(const std::string& text) {
  if (found) return true;
  size_t p = resume;
  while ((p = text.find(kSetupEcho, p)) != std::string::npos) {
    size_t q = p + kSetupEcho.size();
    while (q < text.size() && isDigit(text[q])) ++q;
    if (q >= text.size()) {
      resume = p;  // digits up to the end: the line end may still come
      return false;
    }
    if (text[q] == '\r' || text[q] == '\n') return found = true;
    p = q;
  }
  size_t tail = text.size() >= kSetupEcho.size() ? text.size() - kSetupEcho.size() + 1 : 0;
  if (tail > resume) resume = tail;
  return false;
}

bool hasSetupEcho(const std::string& text) {
  SetupEchoSearch search;
  return search.search(text);
}

// What the shell's reaction shows: $status expanded to digits after statusWord, paste-mode
// switches, an OSC 133 D mark.
static ShellTraits judgeReaction(const std::string& text, const std::string& statusWord) {
  ShellTraits traits;
  OscMark mark;
  traits.statusVar = wordThenDigit(text, statusWord);
  traits.pasteCapable = showsPasteSwitch(text);
  traits.oscMarks = findOscMark(text, 0, 'D', mark);
  return traits;
}

ShellTraits judgeSetupEcho(const std::string& text) { return judgeReaction(text, kSetupEcho); }

ShellTraits judgeProbe(const std::string& text, const std::string& probeName) {
  return judgeReaction(text, probeName + "=");
}

size_t WordCounter::count(const std::string& text) {
  size_t p = resume;
  while ((p = text.find(word, p)) != std::string::npos) {
    ++seen;
    p += word.size();
    resume = p;
  }
  size_t tail = text.size() >= word.size() ? text.size() - word.size() + 1 : 0;
  if (tail > resume) resume = tail;
  return seen;
}

}  // namespace kor
