#include "base/StackTrace.h"

#define UNW_LOCAL_ONLY
#include <cxxabi.h>
#include <libunwind.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace kor {

void addMapsLine(const std::string& line, std::vector<std::pair<std::string, MappedFile>>& maps) {
  std::istringstream in(line);
  std::string range, perms, offset, device, inode, path;
  if (!(in >> range >> perms >> offset >> device >> inode >> path)) return;
  size_t dash = range.find('-');
  if (dash == std::string::npos) return;
  unsigned long long start = 0, end = 0;
  try {
    start = std::stoull(range.substr(0, dash), nullptr, 16);
    end = std::stoull(range.substr(dash + 1), nullptr, 16);
  } catch (...) {
    return;
  }
  for (auto& entry : maps) {
    if (entry.first == path) {
      if (start < entry.second.start) entry.second.start = start;
      if (end > entry.second.end) entry.second.end = end;
      return;
    }
  }
  maps.push_back({path, MappedFile{start, end}});
}

bool parseAddr2lineLine(const std::string& line, std::string& function, std::string& file, int& lineNumber) {
  static const std::regex located("^(.+?) at (.+):([0-9]+)");
  std::smatch m;
  if (line == "?? ??:0" || !std::regex_search(line, m, located)) return false;
  function = m[1];
  file = m[2];
  lineNumber = std::atoi(m[3].str().c_str());
  return true;
}

static std::string hex(unsigned long long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", value);
  return buffer;
}

static std::vector<StackFrame> unwindFrames() {
  std::vector<std::pair<std::string, MappedFile>> maps;
  {
    std::ifstream in("/proc/self/maps");
    std::string line;
    while (std::getline(in, line)) addMapsLine(line, maps);
  }
  std::vector<StackFrame> frames;
  unw_context_t context;
  unw_cursor_t cursor;
  if (unw_getcontext(&context) != 0 || unw_init_local(&cursor, &context) != 0) return frames;
  std::vector<char> name(16384);
  bool inCollector = true;  // the collector's own frames are left out
  do {
    unw_word_t ip = 0, offset = 0;
    unw_get_reg(&cursor, UNW_REG_IP, &ip);
    StackFrame frame;
    if (unw_get_proc_name(&cursor, name.data(), name.size(), &offset) == 0) {
      int status = -1;
      char* demangled = abi::__cxa_demangle(name.data(), nullptr, nullptr, &status);
      frame.function = (status == 0 && demangled) ? demangled : name.data();
      std::free(demangled);
    }
    if (inCollector) {
      const std::string& f = frame.function;
      if (f.find("unwindFrames") != std::string::npos || f.find("collectStackTrace") != std::string::npos ||
          f.find("plainStackTrace") != std::string::npos || f.find("symbolizedStackTrace") != std::string::npos)
        continue;
      inCollector = false;
    }
    frame.index = static_cast<int>(frames.size());
    unsigned long long address = ip;
    for (const auto& entry : maps) {
      if (ip >= entry.second.start && ip < entry.second.end) {
        frame.module = entry.first;
        if (ip - entry.second.start != 0) address = ip - entry.second.start;
        break;
      }
    }
    frame.address = hex(address);
    frames.push_back(frame);
  } while (unw_step(&cursor) > 0);
  return frames;
}

static void symbolize(std::vector<StackFrame>& frames) {
  std::map<std::string, std::vector<size_t>> byModule;
  for (size_t i = 0; i < frames.size(); ++i)
    if (!frames[i].module.empty()) byModule[frames[i].module].push_back(i);
  for (const auto& entry : byModule) {
    std::string command = "addr2line -C -f -p -e " + shellQuote(entry.first) + " ";
    for (size_t i : entry.second) command += frames[i].address + " ";
    command += "2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("popen() failed!");
    std::string output;
    char chunk[128];
    size_t n;
    while ((n = std::fread(chunk, 1, 127, pipe)) > 0) output.append(chunk, n);
    int status = pclose(pipe);
    if (status != 0) output.clear();
    std::istringstream lines(output);
    std::string line;
    for (size_t i : entry.second) {
      if (!std::getline(lines, line)) break;
      std::string function, file;
      int lineNumber = -1;
      if (parseAddr2lineLine(line, function, file, lineNumber)) {
        frames[i].function = function;
        frames[i].file = file;
        frames[i].line = lineNumber;
      }
    }
  }
}

std::vector<StackFrame> collectStackTrace(bool withSymbols) {
  if (!withSymbols) return unwindFrames();
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  std::vector<StackFrame> frames = unwindFrames();
  symbolize(frames);
  return frames;
}

std::string formatStackFrame(const StackFrame& frame) {
  std::string text = "[" + std::to_string(frame.index) + "] " + frame.address;
  if (!frame.function.empty()) text += " " + frame.function;
  if (frame.line > 0) {
    size_t slash = frame.file.find_last_of("/\\");
    std::string base = slash == std::string::npos ? frame.file : frame.file.substr(slash + 1);
    text += " (" + base + ":" + std::to_string(frame.line) + ")";
  }
  return text;
}

std::string formatStackTrace(const std::vector<StackFrame>& frames) {
  std::string text;
  for (const auto& frame : frames) text += formatStackFrame(frame) + "\n";
  return text;
}

std::string plainStackTrace() { return formatStackTrace(collectStackTrace(false)); }
std::string symbolizedStackTrace() { return formatStackTrace(collectStackTrace(true)); }

}  // namespace kor
