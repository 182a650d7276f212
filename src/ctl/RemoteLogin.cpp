#include "ctl/RemoteLogin.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace kor {

namespace {

constexpr useconds_t kLoginPoll = 100000;

std::string field(const StatusMap& status, const char* key) {
  auto found = status.find(key);
  return found == status.end() ? "" : found->second;
}

}  // namespace

std::string loginWaitText(const std::string& name, const StatusMap& status) {
  const std::string login = field(status, "login");
  if (login == "prompt")
    return "session '" + name + "' waits at a login prompt: " + field(status, "loginPrompt") +
           " (answer it with `korctl writeln " + name + " ANSWER`, or `korctl writeln " + name +
           " --secret` for a password)";
  if (login == "connecting") return "session '" + name + "' is still logging in (`korctl read " + name + "` shows it)";
  return "";
}

int awaitLogin(const Endpoint& session, long long timeoutMs, double timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    StatusMap status = statusFields(session);
    if (status.empty()) return 2;  // the request has said why
    const std::string login = field(status, "login");
    if (login != "prompt" && login != "connecting") return 0;
    if (login == "prompt" || std::chrono::steady_clock::now() >= deadline) {
      const std::string wait = loginWaitText(session.name, status);
      if (login == "prompt") {
        std::fprintf(stderr, "korctl run: %s\n", wait.c_str());
        return 2;
      }
      std::fprintf(stderr, "korctl: run timed out after %.1fs (%s)\n", timeoutSeconds, wait.c_str());
      return 124;
    }
    usleep(kLoginPoll);
  }
}

}  // namespace kor
