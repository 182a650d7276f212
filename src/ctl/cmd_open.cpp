// korctl open NAME HOST [kor-args...]: starts a session daemon, `kor --ctl`, in place of korctl,
// unless a session of that name already answers. It reads its own arguments.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "base/ControlClient.h"
#include "base/Paths.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/OpenPlan.h"
#include "ctl/RemoteLogin.h"

namespace kor {

namespace {

constexpr char kOpenDescription[] = "Start a control session in the background (idempotent).";

// The generic command help with its own usage line and the pass-through note. (`korctl help
// open` shows the bare table instead.)
std::string openHelpText() {
  cxxopts::Options options("korctl open", kOpenDescription);
  options.add_options("")("h,help", "Print help");
  options.positional_help("");
  options.custom_help("NAME [user@]host[:port] [OPTION...]");
  return options.help({""}, true) +
         "  ...         Passed through to kor (see `kor --help`); --command\n"
         "              is merged into the session's setup\n"
         "\n"
         "  NAME is the session name (korctl supplies kor's --name);\n"
         "  if NAME is already running it does nothing.  HOST comes\n"
         "  before any kor options.\n";
}

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

// Replaces korctl with kor; returns only when that fails.
int execKor(const std::string& argv0, const OpenPlan& plan) {
  std::string program = korProgramFor(argv0, std::getenv("PATH"));
  std::vector<std::string> args = plan.korArgs;
  args.insert(args.begin(), program);
  std::vector<char*> cargs;
  for (std::string& arg : args) cargs.push_back(&arg[0]);
  cargs.push_back(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  execvp(program.c_str(), cargs.data());
  std::fprintf(stderr, "korctl open: could not exec kor (%s): %s\n", program.c_str(), std::strerror(errno));
  return 127;
}

int execute(const Invocation& call) {
  // Any -h or --help shows the help, even among the words meant for kor.
  for (int i = 2; i < call.argc; ++i) {
    if (std::strcmp(call.argv[i], "--help") == 0 || std::strcmp(call.argv[i], "-h") == 0)
      return writeStdout(openHelpText()) ? 0 : 1;
  }
  const std::vector<std::string> words(call.argv, call.argv + call.argc);
  const OpenPlan plan = planOpen(words);
  if (!plan.hasName) {
    std::fprintf(stderr, "korctl open: NAME required (korctl open NAME [kor-args...])\n");
    return 2;
  }
  const std::string nameProblem = newSessionNameProblem(plan.name);
  if (!nameProblem.empty()) {
    std::fprintf(stderr, "korctl open: %s\n", nameProblem.c_str());
    return 2;
  }
  const Endpoint running = resolveEndpoint(plan.target);
  if (acceptsConnections(running)) return reportRunning(plan, running);
  if (!plan.hasHost) {
    std::fprintf(stderr, "korctl open: missing HOST for session '%s'\n", plan.name.c_str());
    std::fprintf(stderr,
                 "korctl open: usage: korctl open %s HOST [kor-args...] (HOST is localhost for a local shell, "
                 "or [user@]host[:port] over ssh; it comes before any kor options)\n",
                 plan.name.c_str());
    return 2;
  }
  try {
    unlink(framingFilePath(plan.name).c_str());
  } catch (const std::exception&) {
    // no home directory: there is no framing file either
  }
  return execKor(words[0], plan);
}

}  // namespace

// The table's usage "NAME" and its lack of options serve only `korctl help open`.
extern const CommandEntry kOpenCommand = {
    "open",
    kOpenDescription,
    "start a control session in the background (idempotent)",
    "NAME",
    Arguments::kRaw,
    nullptr,
    execute,
};

}  // namespace kor
