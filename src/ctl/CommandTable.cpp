#include "ctl/CommandTable.h"

#include <map>

#include "ctl/Input.h"

namespace kor {

const char* const kVersion = "7.1.1";

const char* const kOverview =
    "Control backgrounded Korvane (kor --ctl) sessions\n"
    "Usage:\n"
    "  korctl <command> [args]\n"
    "\n"
    "  Open a reconnectable session in the background, then read its output and\n"
    "  send it input. Run 'korctl <command> --help' for a command's options.\n"
    "  NAME is a session name (its socket lives under ~/.kor/control) or a socket path.\n"
    "\n"
    "  open        start a control session in the background (idempotent)\n"
    "  kill        force-stop a session daemon (key NAME eof ends it cleanly)\n"
    "\n"
    "  run         run a command; capture its verbatim output + exit code\n"
    "  read        read output (non-destructive)\n"
    "  expect      wait for a pattern in the output\n"
    "  write       inject raw input bytes (no newline)\n"
    "  writeln     inject a line (or a hidden password)\n"
    "\n"
    "  key         inject named keys (arrows, interrupt, eof, ...)\n"
    "  wait        wait until output goes quiet\n"
    "\n"
    "  resize      set terminal size\n"
    "  sniff       tap the byte exchange (sent + received)\n"
    "  observe     watch the live screen (read-only)\n"
    "  attach      attach interactively (Ctrl-] to detach)\n"
    "\n"
    "  sessions    list control sessions (+ saved ones with no socket)\n"
    "  info        show session status\n"
    "  gc          remove dead session sockets\n"
    "\n"
    "  -h, --help     show this overview (or `korctl <command> --help`)\n"
    "  -v, --version  print the korctl version\n";

std::string commandDescription(const std::string& command) {
  static const std::map<std::string, std::string> descriptions = {
      {"open", "Start a control session in the background (idempotent)."},
      {"kill", "Force-stop a session's local daemon."},
      {"run", "Run a command; print its output verbatim, exit with its code."},
      {"read", "Read session output without consuming it."},
      {"expect", "Wait for a pattern to appear in the output."},
      {"write", "Inject raw input bytes (a TEXT arg, or stdin)."},
      {"writeln", "Inject a line of input (or a hidden password)."},
      {"key", "Inject named keys (arrows, function keys, interrupt/eof, ...)."},
      {"wait", "Wait until the session output goes quiet."},
      {"resize", "Set the session's terminal size."},
      {"sniff", "Tap the byte exchange (sent input + received output)."},
      {"observe", "Watch the live screen, read-only (Ctrl-C/Ctrl-] to detach)."},
      {"attach", "Attach interactively (Ctrl-] to detach)."},
      {"sessions", "List control sessions, and saved sessions with no control socket."},
      {"info", "Show session status (liveness, link, size, cursor)."},
      {"gc", "Remove dead session sockets (and, with --idle, end idle sessions)."},
  };
  auto found = descriptions.find(command);
  return found == descriptions.end() ? "" : found->second;
}

namespace {

using cxxopts::value;

void positional(cxxopts::Options& options, std::initializer_list<std::string> names) {
  options.parse_positional(std::vector<std::string>(names));
}

// Adds the command's own options and positionals; returns its usage text.
std::string addCommandTable(cxxopts::Options& o, const std::string& c) {
  const char* cursorHelp = "Start at byte offset N (default: oldest retained)";
  if (c == "info") {
    o.add_options("positional")("NAME", "session name or socket path", value<std::string>());
    positional(o, {"NAME"});
    return "NAME";
  }
  if (c == "kill") {
    o.add_options()("wait", "Block until the session has actually ended (default 10s, --wait=S)",
                    value<double>()->implicit_value("10"));
    o.add_options("positional")("NAME", "session name or socket path", value<std::string>());
    positional(o, {"NAME"});
    return "NAME [--wait[=S]]";
  }
  if (c == "read") {
    o.add_options()("cursor", cursorHelp, value<long long>())
        ("strip", "Remove ANSI escape sequences")
        ("follow", "Tail new output until interrupted (Ctrl-C)")
        ("timeout", "Wait up to S seconds for new output, then return", value<double>());
    o.add_options("positional")("NAME", "session", value<std::string>());
    positional(o, {"NAME"});
    return "NAME [OPTION...]";
  }
  if (c == "observe" || c == "attach") {
    o.add_options()("cursor", cursorHelp, value<long long>())
        ("tail", "Start at the current head (only show new output)")
        ("no-resize",
         "Don't match the session's size to this terminal (by default attach and observe resize "
         "the session on start and on every window change)");
    o.add_options("positional")("NAME", "session name or socket path", value<std::string>());
    positional(o, {"NAME"});
    return "NAME [OPTION...]";
  }
  if (c == "sessions") return "";
  if (c == "sniff") {
    o.add_options()("cursor", cursorHelp, value<long long>())
        ("tail", "Start at the current head (only show new records)")
        ("follow", "Keep streaming the exchange until interrupted (Ctrl-C)");
    o.add_options("positional")("NAME", "session", value<std::string>());
    positional(o, {"NAME"});
    return "NAME [OPTION...]";
  }
  if (c == "wait") {
    o.add_options()("idle", "Required quiet period in seconds", value<double>()->default_value("0.5"))
        ("timeout", "Seconds before giving up", value<double>()->default_value("30"));
    o.add_options("positional")("NAME", "session", value<std::string>());
    positional(o, {"NAME"});
    return "NAME [OPTION...]";
  }
  if (c == "write") {
    o.add_options("positional")("NAME", "session", value<std::string>())
        ("TEXT", "text to send (raw, no newline added)", value<std::string>());
    positional(o, {"NAME", "TEXT"});
    return "NAME [TEXT]";
  }
  if (c == "writeln") {
    o.add_options()("secret", "Read the line hidden via getpass (e.g. a password)");
    o.add_options("positional")("NAME", "session", value<std::string>())
        ("TEXT", "text to send", value<std::string>());
    positional(o, {"NAME", "TEXT"});
    return "NAME [TEXT] [--secret]";
  }
  if (c == "key") {
    o.add_options("positional")("NAME", "session", value<std::string>())
        ("KEYS", "keys to send", value<std::vector<std::string>>());
    positional(o, {"NAME", "KEYS"});
    return "NAME KEY...";
  }
  if (c == "run") {
    o.add_options()("timeout", "Seconds before giving up", value<double>()->default_value("60"))
        ("framing",
         "Run framing: auto (detect, the default), osc133 (bracketed paste + OSC 133; cleanest, "
         "needs shell integration), or mark (echo-marker here-doc; works on any shell)",
         value<std::string>()->default_value("auto"));
    o.add_options("positional")("NAME", "session", value<std::string>())
        ("CMD", "command to run", value<std::string>());
    positional(o, {"NAME", "CMD"});
    return "NAME CMD [OPTION...]";
  }
  if (c == "expect") {
    o.add_options()("timeout", "Seconds before giving up", value<double>()->default_value("30"))
        ("from-start", "Also scan retained scrollback, not just new output")
        ("exact", "Match PATTERN as a literal substring, not a regex")
        ("cursor", "Scan output from byte offset N (capture it before writing to avoid races)",
         value<long long>());
    o.add_options("positional")("NAME", "session", value<std::string>())
        ("PATTERN", "regex (or literal with --exact)", value<std::string>());
    positional(o, {"NAME", "PATTERN"});
    return "NAME PATTERN [OPTION...]";
  }
  if (c == "resize") {
    o.add_options("positional")("NAME", "session", value<std::string>())
        ("ROWS", "rows", value<int>())
        ("COLS", "columns", value<int>());
    positional(o, {"NAME", "ROWS", "COLS"});
    return "NAME ROWS COLS";
  }
  if (c == "gc") {
    o.add_options()("idle", "Also end live sessions idle longer than DUR (e.g. 30m, 6h; default 8h)",
                    value<std::string>()->implicit_value("8h"))
        ("force", "Stop idle sessions outright, skipping the graceful eof");
    return "[--idle [DUR]] [--force]";
  }
  return "NAME";
}

}  // namespace

cxxopts::Options buildCommandOptions(const std::string& command) {
  cxxopts::Options options("korctl " + command, commandDescription(command));
  options.add_options("")("h,help", "Print help");
  std::string usage = addCommandTable(options, command);
  options.positional_help("");
  options.custom_help(usage);
  return options;
}

std::string commandHelp(const std::string& command) {
  std::string text = buildCommandOptions(command).help({""}, true);
  if (command == "key") text += "\n" + keyNamesHelp();
  return text;
}

}  // namespace kor
