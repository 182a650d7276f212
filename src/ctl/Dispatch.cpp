#include "ctl/Dispatch.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "base/Signals.h"
#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "text/Suggest.h"

namespace kor {

namespace {

void onInterrupt(int) { _exit(130); }

// The option library quotes names with typographic quotes on this platform; messages use
// plain apostrophes everywhere.
std::string plainQuotes(std::string text) {
  for (const char* quote : {"\xe2\x80\x98", "\xe2\x80\x99"}) {
    for (size_t at; (at = text.find(quote)) != std::string::npos;) text.replace(at, 3, "'");
  }
  return text;
}

// Asked for, the overview is the result (standard output); after a usage error it goes with
// the message to standard error.
int showOverview() { return writeStdout(overviewText()) ? 0 : 1; }
void printOverviewAfterError() { std::fputs(overviewText().c_str(), stderr); }

// The one command (or global word) a mistyped word was probably meant to be, else "".
std::string likelyCommand(const std::string& word) {
  std::vector<std::string> words{"help", "version"};
  for (const CommandEntry* entry : commandTable()) words.push_back(entry->name);
  const std::vector<std::string> close = closestWords(word, words);
  return close.size() == 1 ? close[0] : "";
}

void suggestCommand(const std::string& word) {
  const std::string guess = likelyCommand(word);
  if (!guess.empty()) std::fprintf(stderr, "korctl: did you mean '%s'?\n", guess.c_str());
}

// `korctl help [COMMAND]`: a known command's help on standard output, else the overview.
int showHelp(int argc, char** argv) {
  if (argc >= 3 && findCommand(argv[2])) return writeStdout(commandHelp(argv[2])) ? 0 : 1;
  if (argc >= 3 && std::string(argv[2]) != "help") {
    std::fprintf(stderr, "korctl help: unknown command '%s'\n", argv[2]);
    suggestCommand(argv[2]);
  }
  return showOverview();
}

// Parses the words after the command word with its table; false (reported) on a parse error.
bool parseArguments(const CommandEntry& entry, Invocation& call) {
  try {
    call.args = buildCommandOptions(entry.name).parse(call.argc - 1, call.argv + 1);
    return true;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "korctl %s: %s\n", entry.name, plainQuotes(error.what()).c_str());
    return false;
  }
}

}  // namespace

int dispatch(int argc, char** argv) {
  if (argc < 2) {
    printOverviewAfterError();
    return 2;
  }
  Invocation call;
  call.command = argv[1];
  call.argc = argc;
  call.argv = argv;
  setSignalAction(SIGINT, onInterrupt);  // ends at once, without flushing or clean-up

  const std::string& command = call.command;
  if (command == "-h" || command == "--help") return showOverview();
  if (command == "-v" || command == "version" || command == "--version") {
    return writeStdout(std::string("korctl version ") + kVersion + "\n") ? 0 : 1;
  }
  if (command == "help") return showHelp(argc, argv);

  const CommandEntry* entry = findCommand(command);
  if (!entry) {
    std::fprintf(stderr, "korctl: unknown command '%s'\n", command.c_str());
    printOverviewAfterError();
    suggestCommand(command);
    return 2;
  }
  if (entry->arguments == Arguments::kRaw) return entry->run(call);

  if (!parseArguments(*entry, call)) return 2;
  if (call.args.count("help")) return writeStdout(commandHelp(command)) ? 0 : 1;
  if (entry->arguments == Arguments::kSession) {
    if (!call.args.count("NAME")) {
      std::fprintf(stderr, "korctl %s: missing session NAME\n", entry->name);
      return 2;
    }
    call.name = call.args["NAME"].as<std::string>();
  }
  return entry->run(call);
}

}  // namespace kor
