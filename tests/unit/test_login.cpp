#include <gtest/gtest.h>

#include <string>

#include "kor/Login.h"
#include "kor/Session.h"

using namespace kor;

TEST(Login, LastLineAndPrompt) {
  struct Case {
    std::string output;
    std::string line;    // the last line of text
    std::string prompt;  // the unterminated last line, if any
  };
  const Case cases[] = {
      {"", "", ""},
      {"root@127.0.0.1's password: ", "root@127.0.0.1's password:", "root@127.0.0.1's password:"},
      {"Warning: added.\r\nEnter passphrase for key '/k': ", "Enter passphrase for key '/k':",
       "Enter passphrase for key '/k':"},
      // A terminated line is no prompt; blank lines and trailing blanks do not count.
      {"ssh: connect to host h port 1: Connection refused\r\n", "ssh: connect to host h port 1: Connection refused",
       ""},
      {"Connection to h closed by remote host.\r\n\r\n  \r\n", "Connection to h closed by remote host.", ""},
      // Escape sequences and other control bytes are not text.
      {"\x1b[1;31mPassword:\x1b[0m \x1b]0;title\x07", "Password:", "Password:"},
      {"a\nb\x07\x1b(B\n", "b", ""},
      // What follows a carriage return of its own overwrites the line.
      {"root@vm:~# \rConnection to h closed by remote host.\r\n", "Connection to h closed by remote host.", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lastLineOf(c.output, false), c.line) << c.output;
    EXPECT_EQ(lastLineOf(c.output, true), c.prompt) << c.output;
  }
  EXPECT_EQ(lastLineOf(std::string(500, 'x') + ": ", true).size(), 200u);
}

TEST(Login, AnsweredPromptIsConnectingUntilSshSaysMore) {
  Session session;
  session.login.remote = true;
  session.terminal.shellAlive = true;
  beginLogin(session, -1, -1);
  const std::string asked = "Enter passphrase for key '/k': ";
  noteLoginOutput(session, asked.data(), asked.size());
  session.login.lastOutput -= std::chrono::seconds(1);  // quiet since
  advanceLogin(session);
  EXPECT_EQ(loginStateOf(session), "prompt");
  noteLoginInput(session);  // the answer
  EXPECT_EQ(loginStateOf(session), "connecting");
  advanceLogin(session);    // no new output: the old prompt is not taken up again
  EXPECT_EQ(loginStateOf(session), "connecting");
  const std::string again = "\r\nBad passphrase, try again for /k: ";
  noteLoginOutput(session, again.data(), again.size());
  session.login.lastOutput -= std::chrono::seconds(1);
  advanceLogin(session);
  EXPECT_EQ(loginStateOf(session), "prompt");
  EXPECT_EQ(session.login.prompt, "Bad passphrase, try again for /k:");
}
