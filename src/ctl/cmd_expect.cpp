// korctl expect NAME PATTERN: waits for a regular expression (or a literal) in the output,
// then prints the output scanned.
#include <cstdio>

#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/Expect.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("timeout", "Seconds before giving up", value<double>()->default_value("30"))
      ("from-start", "Also scan retained scrollback, not just new output")
      ("exact", "Match PATTERN as a literal substring, not a regex")
      ("cursor", "Scan output from byte offset N (capture it before writing to avoid races)", value<long long>())
      ("after-input", "Scan output from where the session's most recent input went in (race-free after writeln)");
  o.add_options("positional")("NAME", "session", value<std::string>())
      ("PATTERN", "regex (or literal with --exact)", value<std::string>());
  parsePositional(o, {"NAME", "PATTERN"});
}

int execute(const Invocation& call) {
  if (!call.args.count("PATTERN")) {
    std::fprintf(stderr, "korctl expect: missing PATTERN\n");
    return 2;
  }
  ExpectRequest request;
  request.pattern = call.args["PATTERN"].as<std::string>();
  request.fromStart = call.args.count("from-start") > 0;
  request.exact = call.args.count("exact") > 0;
  request.cursor = givenOr(call.args, "cursor", -1LL);
  request.afterInput = call.args.count("after-input") > 0;
  if (request.afterInput && (request.cursor >= 0 || request.fromStart)) {
    std::fprintf(stderr, "korctl expect: --after-input chooses where to start; it does not go with --cursor or "
                         "--from-start\n");
    return 2;
  }
  request.timeoutSeconds = call.args["timeout"].as<double>();
  const ExpectResult result = expectPattern(resolveEndpoint(call.name), request);
  if (result.status != 0) return result.status;
  const std::string& text = result.text;
  bool ok = writeStdout(text);
  if (ok && (text.empty() || text.back() != '\n')) ok = writeStdout("\n", 1);
  if (!ok) return 1;
  std::fprintf(stderr, "next-cursor: %lld\n", result.cursor);
  return 0;
}

}  // namespace

extern const CommandEntry kExpectCommand = {
    "expect",
    "Wait for a pattern to appear in the output.",
    "wait for a pattern in the output",
    "NAME PATTERN [OPTION...]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
