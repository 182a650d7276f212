// korctl run NAME CMD: runs one shell command in the session, prints its output verbatim and
// exits with its exit status.
#include <cstdio>
#include <utility>

#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/RunCommand.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("timeout", "Seconds before giving up", value<double>()->default_value("60"))
      ("framing",
       "Run framing: auto (detect, the default), osc133 (bracketed paste + OSC 133; cleanest, "
       "needs shell integration), or mark (echo-marker here-doc; works on any shell)",
       value<std::string>()->default_value("auto"))
      ("strip", "Print the output as `read --strip` does: escape sequences and carriage returns removed");
  o.add_options("positional")("NAME", "session", value<std::string>())
      ("CMD", "command to run", value<std::string>());
  parsePositional(o, {"NAME", "CMD"});
}

bool parseFraming(const std::string& word, Framing& framing) {
  if (word == "auto") framing = kFramingAuto;
  else if (word == "osc133") framing = kFramingOsc133;
  else if (word == "mark") framing = kFramingMark;
  else return false;
  return true;
}

int execute(const Invocation& call) {
  if (!call.args.count("CMD")) {
    std::fprintf(stderr, "korctl run: missing CMD\n");
    return 2;
  }
  const std::string framingWord = call.args["framing"].as<std::string>();
  Framing framing;
  if (!parseFraming(framingWord, framing)) {
    std::fprintf(stderr, "korctl run: unknown --framing '%s' (want auto|osc133|mark)\n", framingWord.c_str());
    return 2;
  }
  RunResult result = runCommand(resolveEndpoint(call.name), call.args["CMD"].as<std::string>(), framing,
                                      call.args["timeout"].as<double>());
  // A run that gave up prints what the command printed until then (often nothing).
  if (result.output.empty()) return result.status;
  return writeStdout(shownOutput(std::move(result.output), call.args.count("strip") > 0)) ? result.status : 2;
}

}  // namespace

extern const CommandEntry kRunCommand = {
    "run",
    "Run a command; print its output verbatim, exit with its code.",
    "run a command; capture its verbatim output + exit code",
    "NAME CMD [OPTION...]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
