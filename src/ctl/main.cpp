// korctl: drives terminal sessions kept running in the background by `kor --ctl`.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "ctl/CommandTable.h"
#include "ctl/Commands.h"
#include "ctl/OpenHelp.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"

namespace {

void onInterrupt(int) { _exit(130); }

void installInterruptHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
}

// The option library quotes names with typographic quotes on this platform; messages use
// plain apostrophes everywhere.
std::string plainQuotes(std::string text) {
  for (const char* quote : {"\xe2\x80\x98", "\xe2\x80\x99"}) {
    for (size_t at; (at = text.find(quote)) != std::string::npos;) text.replace(at, 3, "'");
  }
  return text;
}

void printOverview() { std::fputs(kor::kOverview, stderr); }

int dispatch(int argc, char** argv) {
  using namespace kor;
  if (argc < 2) {
    printOverview();
    return 2;
  }
  const std::string command = argv[1];
  installInterruptHandler();

  if (command == "-h" || command == "--help") {
    printOverview();
    return 0;
  }
  if (command == "-v" || command == "version" || command == "--version") {
    return writeStdout(std::string("korctl version ") + kVersion + "\n") ? 0 : 1;
  }
  if (command == "help") {
    if (argc < 3 || commandDescription(argv[2]).empty()) {
      printOverview();
      return 0;
    }
    return writeStdout(commandHelp(argv[2])) ? 0 : 1;
  }
  if (command == "open") {
    for (int i = 2; i < argc; ++i) {
      if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
        return writeStdout(openHelpText()) ? 0 : 1;
      }
    }
    return openSession(argc, argv);
  }
  if (command == "gc") {
    collectGarbage(argc, argv);
    return 0;
  }
  if (commandDescription(command).empty()) {
    std::fprintf(stderr, "korctl: unknown command '%s'\n", command.c_str());
    printOverview();
    return 2;
  }

  cxxopts::Options options = buildCommandOptions(command);
  cxxopts::ParseResult args;
  try {
    args = options.parse(argc - 1, argv + 1);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "korctl %s: %s\n", command.c_str(), plainQuotes(error.what()).c_str());
    return 2;
  }
  if (args.count("help")) {
    return writeStdout(commandHelp(command)) ? 0 : 1;
  }
  if (command == "sessions") {
    printSessionTable();
    return 0;
  }
  if (!args.count("NAME")) {
    std::fprintf(stderr, "korctl %s: missing session NAME\n", command.c_str());
    return 2;
  }
  const std::string name = args["NAME"].as<std::string>();
  auto cursorOr = [&](long long fallback) {
    return args.count("cursor") ? args["cursor"].as<long long>() : fallback;
  };

  if (command == "info") return showInfo(name);
  if (command == "kill") return killSession(name, args.count("wait") ? args["wait"].as<double>() : 0);
  if (command == "observe" || command == "attach") {
    long long cursor = args.count("tail") ? headCursorOf(name) : cursorOr(-1);
    return attachSession(name, command == "observe", cursor, !args.count("no-resize"));
  }
  if (command == "read") {
    return runRead(name, cursorOr(-1), args.count("strip") > 0, args.count("follow") > 0,
                   args.count("timeout") ? args["timeout"].as<double>() : 0);
  }
  if (command == "sniff") return sniffExchange(name, args.count("follow") > 0, cursorOr(-1), args.count("tail") > 0);
  if (command == "wait") return waitQuiet(name, args["idle"].as<double>(), args["timeout"].as<double>());
  if (command == "write") {
    if (args.count("TEXT")) {
      std::string text = args["TEXT"].as<std::string>();
      return writeInput(name, &text);
    }
    return writeInput(name, nullptr);
  }
  if (command == "writeln") {
    return writeLine(name, args.count("TEXT") ? args["TEXT"].as<std::string>() : "", args.count("secret") > 0);
  }
  if (command == "key") {
    std::vector<std::string> keys;
    if (args.count("KEYS")) keys = args["KEYS"].as<std::vector<std::string>>();
    return sendKeys(name, keys);
  }
  if (command == "run") {
    if (!args.count("CMD")) {
      std::fprintf(stderr, "korctl run: missing CMD\n");
      return 2;
    }
    const std::string framingWord = args["framing"].as<std::string>();
    int framing;
    if (framingWord == "auto") framing = kFramingAuto;
    else if (framingWord == "osc133") framing = kFramingOsc133;
    else if (framingWord == "mark") framing = kFramingMark;
    else {
      std::fprintf(stderr, "korctl run: unknown --framing '%s' (want auto|osc133|mark)\n", framingWord.c_str());
      return 2;
    }
    return runCommand(name, args["CMD"].as<std::string>(), framing, args["timeout"].as<double>());
  }
  if (command == "expect") {
    if (!args.count("PATTERN")) {
      std::fprintf(stderr, "korctl expect: missing PATTERN\n");
      return 2;
    }
    return expectPattern(name, args["PATTERN"].as<std::string>(), args.count("from-start") > 0,
                         args.count("exact") > 0, cursorOr(-1), args["timeout"].as<double>());
  }
  if (command == "resize") {
    if (!args.count("ROWS") || !args.count("COLS")) {
      std::fprintf(stderr, "korctl resize: NAME ROWS COLS\n");
      return 2;
    }
    return resizeSession(name, args["ROWS"].as<int>(), args["COLS"].as<int>());
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Errors a routine does not handle itself (no home directory, an uncreatable control
  // directory) end the process with a message, never with an uncaught-exception abort.
  try {
    return dispatch(argc, argv);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "korctl: %s\n", error.what());
    return 1;
  }
}
