// The tools of `korctl mcp`, each on the routine of its command. Each call runs in a process
// of its own (McpServer), so what the routines print on standard error is the call's message.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "base/Durations.h"
#include "ctl/Expect.h"
#include "ctl/Input.h"
#include "ctl/Kill.h"
#include "ctl/McpTools.h"
#include "ctl/Open.h"
#include "ctl/OutputRead.h"
#include "ctl/RunCommand.h"
#include "ctl/SessionList.h"
#include "text/ScreenText.h"
#include "text/Strip.h"
#include "text/Utf8.h"

namespace kor {
namespace mcp {

namespace {

std::string& programPath() {
  static std::string path = "korctl";
  return path;
}

ToolOutcome success(Json structured) {
  ToolOutcome outcome;
  outcome.structured = std::move(structured);
  return outcome;
}

Endpoint sessionOf(const Json& arguments) { return resolveEndpoint(arguments["name"].get<std::string>()); }

ToolArgument nameArgument() {
  return {"name", ArgType::kString,
          "The session: the NAME it was opened with, or the path of its control socket", true, nullptr,
          Json{{"minLength", 1}}};
}

Json property(const char* type, const char* description) { return Json{{"type", type}, {"description", description}}; }

const Json kReadOnly = {{"readOnlyHint", true}, {"destructiveHint", false}, {"openWorldHint", false}};
const Json kTyping = {{"readOnlyHint", false}, {"destructiveHint", false}, {"openWorldHint", false}};

// ---- session_open

// The session is started as `korctl open` starts it: kor in a process of its own, whose exit
// status says whether it runs (its messages are the call's).
ToolOutcome openTool(const Json& arguments) {
  const std::string name = arguments["name"].get<std::string>();
  std::vector<std::string> words{programPath(), "open", name, arguments["host"].get<std::string>()};
  for (const char* option : {"shell", "size", "scrollback"}) {
    if (!arguments.contains(option)) continue;
    words.push_back(std::string("--") + option);
    words.push_back(arguments[option].get<std::string>());
  }
  const OpenDecision decision = decideOpen(words);
  Json result = {{"name", name}, {"host", arguments["host"]}, {"started", decision.start}};
  if (!decision.start) return decision.status == 0 ? success(result) : toolFailure();
  std::fflush(stderr);
  const pid_t kor = fork();
  if (kor < 0) return toolFailure("korctl open: cannot start kor: fork failed");
  if (kor == 0) _exit(execKor(decision));
  int status = 0;
  while (waitpid(kor, &status, 0) < 0) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return success(result);
  return toolFailure(WIFEXITED(status) ? "" : "korctl open: kor ended by signal " + std::to_string(WTERMSIG(status)));
}

Tool openToolRow() {
  return {"session_open",
          "Open a terminal session",
          "Start a shell kept running in the background in a terminal of its own, named NAME (does nothing "
          "when a session of that name already runs). Returns once the shell is ready.",
          {nameArgument(),
           {"host", ArgType::kString,
            "localhost (or this machine's name) for a local login shell, or [user@]host[:port] for a shell "
            "over ssh",
            false, "localhost", Json{{"minLength", 1}}},
           {"shell", ArgType::kString, "The local shell's path, e.g. /bin/bash (default: $SHELL, else /bin/sh)"},
           {"size", ArgType::kString, "The terminal size as ROWSxCOLS, e.g. 24x80 (the default)", false, nullptr,
            Json{{"pattern", "^[0-9]+[xX][0-9]+$"}}},
           {"scrollback", ArgType::kString,
            "How much output the session keeps for readers: bytes, or with a K, M or G suffix (default 64M)"}},
          Json{{"name", property("string", "The session's name")},
               {"host", property("string", "The host it logs in to")},
               {"started", property("boolean", "Whether this call started it (false: it was running already)")}},
          {"name", "host", "started"},
          Json{{"readOnlyHint", false}, {"destructiveHint", false}, {"idempotentHint", true}, {"openWorldHint", true}},
          false,
          openTool};
}

// ---- session_list

ToolOutcome listTool(const Json&) {
  Json sessions = Json::array();
  for (const SessionRow& row : sessionRows())
    sessions.push_back({{"name", row.name}, {"host", row.host}, {"status", row.status}, {"up", row.up}, {"idle", row.idle}});
  return success(Json{{"sessions", sessions}});
}

Tool listToolRow() {
  Json row = {{"type", "object"},
              {"properties",
               {{"name", property("string", "The session's name")},
                {"host", property("string", "Its host, - when unknown")},
                {"status", property("string", "connected, disconnected, dead (its daemon does not answer) or "
                                              "no-control (a saved session without a daemon)")},
                {"up", property("string", "How long it has run, e.g. 1h2m; - when unknown")},
                {"idle", property("string", "How long since its last activity, e.g. 1m5s; - when unknown")}}},
              {"required", {"name", "host", "status", "up", "idle"}}};
  return {"session_list",
          "List sessions",
          "List the sessions: every session with a control socket, and saved sessions without one.",
          {},
          Json{{"sessions", {{"type", "array"}, {"items", row}, {"description", "The sessions, by name"}}}},
          {"sessions"},
          kReadOnly,
          false,
          listTool};
}

// ---- session_kill

ToolOutcome killTool(const Json& arguments) {
  const double wait = arguments["wait"].get<double>();
  if (killSession(sessionOf(arguments), wait) != 0) return toolFailure();
  return success(Json{{"name", arguments["name"]}, {"ended", wait > 0}});
}

Tool killToolRow() {
  return {"session_kill",
          "Kill a session",
          "Force-stop a session's daemon, ending its shell and every program running in it.",
          {nameArgument(),
           {"wait", ArgType::kNumber,
            "Seconds to wait until the session has really ended (0: do not wait)", false, 10.0,
            Json{{"minimum", 0}}}},
          Json{{"name", property("string", "The session")},
               {"ended", property("boolean", "Whether it was seen to end (only looked for when wait > 0)")}},
          {"name", "ended"},
          Json{{"readOnlyHint", false}, {"destructiveHint", true}, {"idempotentHint", false}, {"openWorldHint", false}},
          false,
          killTool};
}

// ---- session_run

// The run as `korctl run NAME COMMAND` makes it. A command that ran is a result whatever its
// exit status; a run that gave up (time-out, a shell parked on a continuation prompt) is an
// error result that still carries what the command printed until then.
ToolOutcome runTool(const Json& arguments) {
  RunResult run = runCommand(sessionOf(arguments), arguments["command"].get<std::string>(), kFramingAuto,
                                   arguments["timeout"].get<double>());
  const bool gaveUp = run.status == 124 || run.status == 125;
  if (!run.ran && !gaveUp && !isBlankCommand(arguments["command"].get<std::string>())) return toolFailure();
  Json result = Json::object();
  putBytes(result, "output", shownOutput(std::move(run.output), arguments["strip"].get<bool>()));
  result["exitStatus"] = run.status;
  result["timedOut"] = run.status == 124;
  result["cursor"] = run.cursor;
  return run.ran || !gaveUp ? success(result) : toolFailure("", result);
}

Tool runToolRow() {
  Json output = Json::object();
  describeBytes(output, "output", "The command's output, exactly as it printed it (escape sequences removed with strip)");
  output["exitStatus"] = property("integer", "The command's exit status; when the run gave up (an error result), "
                                             "124 for a time-out or 125 for a shell left on a continuation prompt");
  output["timedOut"] = property("boolean", "Whether the time limit passed before the command ended (the message "
                                           "says whether it was interrupted)");
  output["cursor"] = property("integer", "Where to read on after the run (a cursor for session_read or "
                                         "session_expect): past the command's output; -1 when nothing was typed");
  return {"session_run",
          "Run a shell command in a session",
          "Type one shell command into the session's shell and return its exact output and exit status, cut out "
          "of the terminal's output (no prompt, no echo). The shell keeps its state between runs (working "
          "directory, variables). For interactive programs use session_write, session_key and session_expect.",
          {nameArgument(),
           {"command", ArgType::kString, "The shell command line, as typed at the prompt (several lines are fine)",
            true},
           {"timeout", ArgType::kNumber, "Seconds before giving up (the command is interrupted then)", false, 60.0,
            Json{{"minimum", 0.001}}},
           {"strip", ArgType::kBoolean, "Remove escape sequences (colours, cursor movement) and carriage returns "
                                        "from the output",
            false, false}},
          output,
          {"output", "exitStatus", "timedOut", "cursor"},
          Json{{"readOnlyHint", false}, {"destructiveHint", true}, {"idempotentHint", false}, {"openWorldHint", true}},
          true,  // a cancelled run interrupts its command, leaving the shell at its prompt
          runTool};
}

// ---- session_read

// At once, as `read` reads; with settle, as `read --timeout` waits for the output to settle (a
// settle time under 1 ms reads at once, so the result always says where the output ends).
bool readOutput(const Endpoint& session, long long cursor, double settle, OutputChunk& all) {
  if (durationMillis(settle) <= 0) return fetchOutput(session, cursor, all, false);
  OutputReader reader{session};
  OutputChunk chunk;
  all.nextCursor = cursor;
  auto readOne = [&](long long from, uint32_t waitMs) {
    SettleStep step;
    step.ok = fetchOutput(reader, from, waitMs, chunk, false);
    all.data += chunk.data;
    all.gap = all.gap || chunk.gap;
    step.bytes = chunk.data.size();
    step.nextCursor = chunk.nextCursor;
    return step;
  };
  return readUntilSettled(reader, all.nextCursor, settle, readOne);
}

ToolOutcome readTool(const Json& arguments) {
  OutputChunk chunk;
  if (!readOutput(sessionOf(arguments), arguments["cursor"].get<long long>(), arguments["settle"].get<double>(), chunk))
    return toolFailure();
  const size_t limit = arguments["maxBytes"].get<size_t>();
  const bool truncated = chunk.data.size() > limit;
  if (truncated) {
    const size_t keep = utf8CutPoint(chunk.data, limit);
    chunk.nextCursor -= static_cast<long long>(chunk.data.size() - keep);
    chunk.data.resize(keep);
  }
  Json result = Json::object();
  putBytes(result, "data", arguments["strip"].get<bool>() ? stripAnsi(chunk.data) : chunk.data);
  result["nextCursor"] = chunk.nextCursor;
  result["gap"] = chunk.gap;
  result["truncated"] = truncated;
  return success(result);
}

Tool readToolRow() {
  Json output = Json::object();
  describeBytes(output, "data", "The output from the cursor on (escape sequences removed with strip)");
  output["nextCursor"] = property("integer", "The cursor to read on from next time");
  output["gap"] = property("boolean", "Output between the cursor and the first byte returned was no longer kept");
  output["truncated"] = property("boolean", "More output follows: maxBytes was reached (read on from nextCursor)");
  return {"session_read",
          "Read a session's output",
          "Read the session's output from a byte cursor, without consuming it. Every byte the session ever "
          "printed has a cursor; pass back nextCursor to read on where this read ended.",
          {nameArgument(),
           {"cursor", ArgType::kInteger, "Where to start: a cursor from an earlier call, or -1 for the oldest output kept",
            false, -1, Json{{"minimum", -1}}},
           {"strip", ArgType::kBoolean, "Remove escape sequences (colours, cursor movement) and carriage returns",
            false, false},
           {"maxBytes", ArgType::kInteger, "At most this many bytes of output (before stripping)", false, 1048576,
            Json{{"minimum", 1}}},
           {"settle", ArgType::kNumber,
            "Wait up to this many seconds for output to come and settle (no new output for 0.3 s), as "
            "`korctl read --timeout` does; 0: what is there now",
            false, 0.0, Json{{"minimum", 0}}}},
          output,
          {"data", "nextCursor", "gap", "truncated"},
          kReadOnly,
          false,
          readTool};
}

// ---- session_expect

ToolOutcome expectTool(const Json& arguments) {
  ExpectRequest request;
  request.pattern = arguments["pattern"].get<std::string>();
  request.exact = arguments["exact"].get<bool>();
  request.fromStart = arguments["fromStart"].get<bool>();
  request.afterInput = arguments["afterInput"].get<bool>();
  if (arguments.contains("cursor")) request.cursor = arguments["cursor"].get<long long>();
  if (request.afterInput && (request.cursor >= 0 || request.fromStart))
    return toolFailure("session_expect: afterInput chooses where to start; it does not go with cursor or fromStart");
  request.timeoutSeconds = arguments["timeout"].get<double>();
  const ExpectResult found = expectPattern(sessionOf(arguments), request);
  if (found.status == 1) return toolFailure("", Json{{"matched", false}});
  if (found.status != 0) return toolFailure();
  Json result = {{"matched", true}};
  putBytes(result, "text", found.text);
  result["nextCursor"] = found.cursor;
  return success(result);
}

Tool expectToolRow() {
  Json output = {{"matched", property("boolean", "Whether the pattern showed up in time")}};
  describeBytes(output, "text", "The output searched, escape sequences removed, up to and including the match");
  output["nextCursor"] = property("integer", "The cursor after the output searched");
  return {"session_expect",
          "Wait for a pattern",
          "Wait until a regular expression (ECMAScript syntax), or a literal text with exact, shows up in the "
          "session's output with escape sequences removed. Starts at the output's end unless cursor, "
          "afterInput or fromStart says otherwise. A time-out is an error result with matched false.",
          {nameArgument(),
           {"pattern", ArgType::kString, "The regular expression, or the literal text with exact", true},
           {"exact", ArgType::kBoolean, "Match pattern as a literal text, not a regular expression", false, false},
           {"cursor", ArgType::kInteger, "Search the output from this cursor on (from session_read or an earlier call)",
            false, nullptr, Json{{"minimum", 0}}},
           {"fromStart", ArgType::kBoolean, "Search all the output kept, not only what comes next (without cursor)",
            false, false},
           {"afterInput", ArgType::kBoolean,
            "Search from where the session's most recent input went in (after session_write: its answer cannot "
            "be missed, however fast it came)",
            false, false},
           {"timeout", ArgType::kNumber, "Seconds to wait", false, 30.0, Json{{"exclusiveMinimum", 0}}}},
          output,
          {"matched"},
          kReadOnly,
          false,
          expectTool};
}

// ---- session_write, session_key

ToolOutcome writeTool(const Json& arguments) {
  std::string bytes = arguments["text"].get<std::string>();
  if (arguments["line"].get<bool>()) bytes += "\n";
  const bool secret = arguments["secret"].get<bool>();
  const int status = sendInput(sessionOf(arguments), bytes, secret);
  std::fill(bytes.begin(), bytes.end(), '\0');
  if (status != 0) return toolFailure();
  return success(Json{{"name", arguments["name"]}, {"hidden", secret}});
}

Tool writeToolRow() {
  return {"session_write",
          "Type text into a session",
          "Type text into the session's terminal, as if typed on its keyboard (answers to prompts, input to "
          "interactive programs). With line, a line end follows; with secret, the text is sent as hidden "
          "input that the session does not record (passwords).",
          {nameArgument(),
           {"text", ArgType::kString, "The text, sent as is (control characters included)", true},
           {"line", ArgType::kBoolean, "Send a line end after the text", false, false},
           {"secret", ArgType::kBoolean, "The text is a secret: hidden input, never shown or recorded", false,
            false}},
          Json{{"name", property("string", "The session")},
               {"hidden", property("boolean", "Whether it went as hidden input")}},
          {"name", "hidden"},
          kTyping,
          false,
          writeTool};
}

ToolOutcome keyTool(const Json& arguments) {
  std::string bytes, unknown;
  if (!keySequence(arguments["keys"].get<std::vector<std::string>>(), bytes, unknown)) {
    reportUnknownKey(unknown);
    return toolFailure();
  }
  if (sendInput(sessionOf(arguments), bytes, false) != 0) return toolFailure();
  return success(Json{{"name", arguments["name"]}, {"bytes", bytes.size()}});
}

Tool keyToolRow() {
  return {"session_key",
          "Press keys in a session",
          "Press named keys in the session's terminal, in order: enter, tab, esc, space, backspace, up, down, "
          "left, right, home, end, pageup, pagedown, insert, delete, f1 to f12, interrupt (Ctrl-C), eof (Ctrl-D), "
          "^X for Ctrl-X, or any single character.",
          {nameArgument(),
           {"keys", ArgType::kStringList, "The key names, e.g. [\"interrupt\"] or [\"esc\", \":\", \"q\", \"enter\"]",
            true, nullptr, Json{{"minItems", 1}}}},
          Json{{"name", property("string", "The session")},
               {"bytes", property("integer", "How many bytes the keys made")}},
          {"name", "bytes"},
          kTyping,
          false,
          keyTool};
}

// ---- session_screen

// The object `screen --json` prints.
ToolOutcome screenTool(const Json& arguments) {
  ScreenImage screen;
  if (!fetchScreen(sessionOf(arguments), arguments["ansi"].get<bool>(), screen, "screen")) return toolFailure();
  return success(screenObject(screen));
}

Tool screenToolRow() {
  Json position = {{"type", "object"},
                   {"properties", {{"row", property("integer", "From 0")}, {"col", property("integer", "From 0")}}},
                   {"required", {"row", "col"}},
                   {"description", "Where the terminal's cursor is"}};
  return {"session_screen",
          "Show a session's screen",
          "The session's screen as its terminal shows it now, row by row: what a full-screen program (an "
          "editor, a pager, top) displays, which the raw output of session_read does not show.",
          {nameArgument(),
           {"ansi", ArgType::kBoolean, "Keep colours and attributes in the rows, as SGR escape sequences", false,
            false}},
          Json{{"rows", property("integer", "The terminal's height")},
               {"cols", property("integer", "The terminal's width")},
               {"cursor", position},
               {"alternate", property("boolean", "Whether a full-screen program's alternate screen is up")},
               {"lines", {{"type", "array"},
                          {"items", {{"type", "string"}}},
                          {"description", "The rows, top to bottom, as UTF-8 text without trailing blanks"}}}},
          {"rows", "cols", "cursor", "alternate", "lines"},
          kReadOnly,
          false,
          screenTool};
}

}  // namespace

void setKorctlPath(const std::string& argv0) { programPath() = argv0; }

const std::vector<Tool>& toolTable() {
  static const std::vector<Tool> table = {openToolRow(),  listToolRow(), runToolRow(),    readToolRow(),
                                          expectToolRow(), writeToolRow(), keyToolRow(), screenToolRow(),
                                          killToolRow()};
  return table;
}

}  // namespace mcp
}  // namespace kor
