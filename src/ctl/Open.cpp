#include "ctl/Open.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "base/ControlClient.h"
#include "base/Paths.h"
#include "base/StatusRecord.h"
#include "ctl/OpenPlan.h"
#include "ctl/RemoteLogin.h"

namespace kor {

namespace {

int reportRunning(const OpenPlan& plan, const Endpoint& running) {
  StatusMap status = statusFields(running);
  std::string host = status["host"];
  if (!plan.host.empty() && plan.host.find_first_of("@.") != std::string::npos && !host.empty() &&
      bareHost(host) != bareHost(plan.host)) {
    std::fprintf(stderr,
                 "korctl: session '%s' is connected to %s, not %s -- pick a different name (e.g. add a unique "
                 "suffix)\n",
                 plan.name.c_str(), host.c_str(), plan.host.c_str());
    return 2;
  }
  std::fprintf(stderr, "korctl: session '%s' already running (%s)\n", plan.name.c_str(),
               host.empty() ? "?" : host.c_str());
  const std::string waiting = loginWaitText(plan.name, status);
  if (waiting.empty()) return 0;
  std::fprintf(stderr, "korctl: %s\n", waiting.c_str());
  return kOpenLoginPending;
}

}  // namespace

OpenDecision decideOpen(const std::vector<std::string>& words) {
  OpenDecision decision;
  const OpenPlan plan = planOpen(words);
  if (!plan.hasName) {
    std::fprintf(stderr, "korctl open: NAME required (korctl open NAME [kor-args...])\n");
    decision.status = 2;
    return decision;
  }
  const std::string nameProblem = newSessionNameProblem(plan.name);
  if (!nameProblem.empty()) {
    std::fprintf(stderr, "korctl open: %s\n", nameProblem.c_str());
    decision.status = 2;
    return decision;
  }
  const Endpoint running = resolveEndpoint(plan.target);
  if (acceptsConnections(running)) {
    decision.status = reportRunning(plan, running);
    return decision;
  }
  if (!plan.hasHost) {
    std::fprintf(stderr, "korctl open: missing HOST for session '%s'\n", plan.name.c_str());
    std::fprintf(stderr,
                 "korctl open: usage: korctl open %s HOST [kor-args...] (HOST is localhost for a local shell, "
                 "or [user@]host[:port] over ssh; it comes before any kor options)\n",
                 plan.name.c_str());
    decision.status = 2;
    return decision;
  }
  try {
    unlink(framingFilePath(plan.name).c_str());
  } catch (const std::exception&) {
    // no home directory: there is no framing file either
  }
  decision.start = true;
  decision.program = korProgramFor(words[0], std::getenv("PATH"));
  decision.args = plan.korArgs;
  decision.args.insert(decision.args.begin(), decision.program);
  return decision;
}

int execKor(const OpenDecision& decision) {
  std::vector<std::string> args = decision.args;
  std::vector<char*> cargs;
  for (std::string& arg : args) cargs.push_back(&arg[0]);
  cargs.push_back(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  execvp(decision.program.c_str(), cargs.data());
  std::fprintf(stderr, "korctl open: could not exec kor (%s): %s\n", decision.program.c_str(), std::strerror(errno));
  return 127;
}

}  // namespace kor
