#pragma once
#include <string>
#include <vector>

#include "base/ShellQuote.h"

namespace kor {

struct StackFrame {
  int index = 0;
  std::string address;   // "0x..." relative to the start of the mapped file holding it
  std::string module;    // path of that mapped file, "" when none
  std::string function;
  std::string file;
  int line = -1;
};

// The calling thread's stack, innermost first, starting at the caller of this function.
// The symbolized variant also asks addr2line for function names and source lines.
std::vector<StackFrame> collectStackTrace(bool symbolize);
std::string formatStackFrame(const StackFrame& frame);
std::string formatStackTrace(const std::vector<StackFrame>& frames);

std::string plainStackTrace();
std::string symbolizedStackTrace();

// Pure helpers, exposed for tests.
struct MappedFile {
  unsigned long long start = 0;
  unsigned long long end = 0;
};
void addMapsLine(const std::string& line, std::vector<std::pair<std::string, MappedFile>>& maps);
bool parseAddr2lineLine(const std::string& line, std::string& function, std::string& file, int& lineNumber);

}  // namespace kor
