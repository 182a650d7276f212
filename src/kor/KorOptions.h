#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace kor {

// Output kept by default, and the most a session may keep: a read reply carries everything
// retained past its cursor and must stay below the client's reply limit.
constexpr size_t kDefaultScrollback = 64u * 1024 * 1024;
constexpr size_t kMaxScrollback = 256u * 1024 * 1024 - 64 * 1024;
constexpr size_t kMinScrollback = 1024;

// The command line of `kor`.
struct KorOptions {
  bool help = false;
  bool ctl = false;
  std::string name;
  std::string ctlSocket;  // empty: the session's default control socket
  std::string command;    // the last --command; typed into the shell first
  std::string shell;      // empty: $SHELL, the password database, /bin/sh
  size_t scrollback = kDefaultScrollback;
  int rows = 24;
  int cols = 80;
  double loginTimeout = 30;  // seconds the foreground waits for a remote login
  std::string host;
};

// Raises std::runtime_error with the message to show after "kor: ".
KorOptions parseKorArgs(const std::vector<std::string>& args);
// "65536", "512K", "64M", "64MiB", "1G" -> bytes; raises on anything else.
size_t parseByteSize(const std::string& text);
// "30", "2.5" -> seconds, more than 0; raises on anything else.
double parseSeconds(const std::string& text);
// "24x80" -> rows and columns, each 1..65535; raises on anything else.
void parseTermSize(const std::string& text, int& rows, int& cols);

std::string korHelpText();

// A host that means this machine: localhost, 127.0.0.1, ::1 or the machine's own name.
bool isLocalHost(const std::string& host, const std::string& ownHostName);
// [user@]host[:port] -> the ssh command that logs in to it with a terminal and, once logged
// in, runs loginNotice on this machine. Connections are not shared with other ssh processes:
// one that rides on another's connection would never run the notice.
std::vector<std::string> sshCommand(const std::string& host, const std::string& loginNotice);

}  // namespace kor
