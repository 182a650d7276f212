#pragma once
// Logging in to a remote host, and setting up the shell. ssh may ask things before the remote shell starts (an unknown
// host key, a passphrase, a password, a second factor); nothing of the session's own may be
// typed into such a prompt. So the set-up line waits until ssh reports the login done (its
// LocalCommand signals the daemon), a prompt is reported to the foreground and in the status
// record, and the foreground learns how the login went: done, waiting at a prompt, still
// connecting when its time is up, or ended with ssh's last words. Once logged in (a local
// shell is from the start) the foreground hears "ok" only when the set-up line has run: its
// status line (KORCTL_EC=N, which korctl's set-up line prints) shows in the output. So a session is alive and set up when the
// start returns 0, and a shell that exits at once is reported with its ended reason.
#include <string>

#include "kor/Session.h"

namespace kor {

// The foreground's exit status when the session lives but has not logged in yet.
constexpr int kLoginPendingStatus = 3;

// The command ssh runs locally once it has logged in: it tells daemon pid.
std::string loginNotice(long pid);

// The last line of text in output: control bytes and escape sequences dropped, blanks trimmed,
// at most maxLength bytes of it. With promptOnly it is "" unless that line is unterminated
// (the terminal waits on it), which is how a prompt shows.
std::string lastLineOf(const std::string& output, bool promptOnly, size_t maxLength = 200);

// The login's state word for the status record: "done", "prompt" or "connecting".
std::string loginStateOf(const Session& session);

// Starts the login of a remote session: the foreground waits on ready (closed with lockFd once
// it has its answer) for at most the session's login timeout.
void beginLogin(Session& session, int ready, int lockFd);
// A local shell: the foreground waits on ready (closed with lockFd once it has its answer)
// until the set-up line has run. Called before the line is typed.
void beginSetup(Session& session, int ready, int lockFd);
// Output arrived: the set-up line's status line is looked for; a remote session keeps its
// newest text; a prompt seen before is answered or gone.
void noteLoginOutput(Session& session, const char* data, size_t length);
// Input arrived: a prompt it answers is no longer what the login waits for; the login is
// connecting again until ssh shows more (another prompt, or the notice). Otherwise a run
// right after the answer would still find the old prompt and refuse.
void noteLoginInput(Session& session);
// One step per serve pass: the notice from ssh (then the set-up line is typed), a prompt after
// a quiet moment, the foreground's time limit, the set-up line's time limit. Returns when the
// next step is due at the latest.
Clock::time_point advanceLogin(Session& session);
// The session ends: the ended reason, with the last line ssh or the remote side printed when
// ssh ended by itself.
std::string endedReason(const Session& session, const std::string& reason);
// Tells a foreground still waiting that the session ended, and why. Called once the ended
// reason is written and the socket refuses connections, so what it does next finds them so.
void finishLogin(Session& session, const std::string& reason);

// The foreground's side: turns the daemon's report into the message and the exit status.
int reportLogin(const KorOptions& options, const std::string& report);

}  // namespace kor
