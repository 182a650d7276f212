#include "kor/Foreground.h"

#include <sys/types.h>
#include <unistd.h>

#include <fstream>

#if defined(__FreeBSD__)
#include <sys/sysctl.h>
#include <sys/user.h>
#endif

namespace kor {

std::string processName(long pid) {
  if (pid <= 0) return "";
  std::string name;
#if defined(__linux__)
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::getline(comm, name);
#elif defined(__FreeBSD__)
  int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, static_cast<int>(pid)};
  struct kinfo_proc info;
  size_t length = sizeof info;
  if (sysctl(mib, 4, &info, &length, nullptr, 0) == 0 && length == sizeof info) name = info.ki_comm;
#endif
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return name;
}

std::string foregroundProgram(int master) {
  if (master < 0) return "";
  const pid_t group = tcgetpgrp(master);
  return group > 0 ? processName(group) : "";
}

}  // namespace kor
