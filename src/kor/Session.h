#pragma once
// The state of one session daemon, shared by its roles: start-up fills it in, the serve loop
// runs on it, the terminal and the requests change it.
#include <sys/types.h>

#include <deque>
#include <list>
#include <string>

#include "kor/Clients.h"
#include "kor/ControlFiles.h"
#include "kor/ExchangeLog.h"
#include "kor/KorOptions.h"
#include "kor/OutputBuffer.h"
#include "kor/Requests.h"
#include "kor/Screen.h"
#include "text/ShellTraits.h"

namespace kor {

struct InputChunk {
  std::string bytes;
  size_t written = 0;
  bool hidden = false;  // a secret: wiped once written or dropped, never recorded
};

// The shell on its pseudo-terminal.
struct Terminal {
  int master = -1;
  bool masterOpen = false;  // false once the other side has gone
  pid_t shellPid = -1;
  bool shellAlive = false;
  int shellStatus = 0;      // as waitpid left it
  std::deque<InputChunk> input;  // waiting for the terminal to take it, in order
  size_t inputBytes = 0;         // bytes of input not written yet
  long long inputCursor = 0;     // the output head when the most recent request's input was taken
  TermSize size;
};

// How far a session has logged in and set up (Login.h). A local shell is logged in from the
// start.
struct LoginState {
  bool remote = false;
  bool pending = false;       // ssh has not reported the login done yet
  std::string prompt;         // what ssh asks right now, "" when nothing
  bool quietChecked = true;   // output since the last look has been looked at
  Clock::time_point lastOutput;
  std::string tail;           // the newest output of a remote session, for prompts and the end
  bool setupPending = false;  // the set-up line is typed; its status line has not shown yet
  SetupEchoSearch setupSearch;
  std::string setupOutput;    // the output since, searched for that line
  Clock::time_point setupBy;  // "ok" by then at the latest, while the shell lives
  int ready = -1;             // the foreground's report pipe, while it waits
  int lockFd = -1;            // the start lock, held until the foreground has its report
  Clock::time_point reportBy;
};

struct Session {
  KorOptions options;
  LoginState login;
  ControlFiles files;
  Terminal terminal;
  OutputBuffer output;
  Screen screen;  // what the output has drawn, as a terminal shows it (made at start-up)
  ExchangeLog exchange;
  std::list<Client> clients;
  long long created = 0;
  long long lastActivity = 0;
  bool killRequested = false;
  bool ending = false;  // the shell is gone; draining what it left
  Clock::time_point endBy;
  size_t maxClients = kMaxClients;
  Clock::time_point acceptAgainAt;  // out of descriptors: the listener rests until then
};

}  // namespace kor
