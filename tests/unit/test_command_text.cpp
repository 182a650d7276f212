// How run carries CMD: the here-document of a typed frame and the eval word of a pasted one.
// What a shell makes of them is checked against real shells in tests/cli/test_run_e2e.py; here
// the texts themselves, decoded the way the shells decode them.
#include <gtest/gtest.h>

#include <string>

#include "text/CommandText.h"

using namespace kor;

namespace {

// An unquoted here-document body as a POSIX shell reads it: backslash-newline removed, and a
// backslash before "\", "$" or "`" dropped.
std::string readUnquotedBody(const std::string& body) {
  std::string out;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\\' && i + 1 < body.size()) {
      const char next = body[i + 1];
      if (next == '\n') {
        ++i;
        continue;
      }
      if (next == '\\' || next == '$' || next == '`') {
        out += next;
        ++i;
        continue;
      }
    }
    out += body[i];
  }
  return out;
}

size_t longestLine(const std::string& text) {
  size_t longest = 0, start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    longest = std::max(longest, end - start);
  return std::max(longest, text.size() - start);
}

}  // namespace

TEST(CommandText, HereDocumentKeepsShortCommandsAsTheyAre) {
  EXPECT_EQ(hereDocument("echo '$x' \\\n`y`", "D"), "<<'D'\necho '$x' \\\n`y`\nD\n");
}

TEST(CommandText, HereDocumentOfLongLinesIsRestoredExactly) {
  const std::string tricky = "a\\b$c`d\\\\$$``e";
  const std::string cases[] = {
      "echo " + std::string(6000, 'a') + " | wc -c",
      std::string(2000, '$') + "\nshort\n" + std::string(3000, '\\'),  // escapes double the length
      "x\n" + [&] { std::string s; for (int i = 0; i < 300; ++i) s += tricky; return s; }() + "\n",
  };
  for (const std::string& cmd : cases) {
    const std::string doc = hereDocument(cmd, "D");
    ASSERT_EQ(doc.compare(0, 4, "<<D\n"), 0);
    ASSERT_EQ(doc.compare(doc.size() - 3, 3, "\nD\n"), 0);
    const std::string body = doc.substr(4, doc.size() - 7);
    EXPECT_LE(longestLine(body), kMaxTypedLine);
    EXPECT_EQ(readUnquotedBody(body), cmd);
  }
}

TEST(CommandText, EvalWords) {
  EXPECT_EQ(evalWord("ls", PasteWord::kQuoted), "'ls'");
  // One form for bash, zsh and fish: no backslash and no quote of cmd's own inside quotes.
  EXPECT_EQ(evalWord("it's a\\b", PasteWord::kQuoted), "'it'\"'\"'s a'\"\\\\\"'b'");
  EXPECT_EQ(evalWord("echo \"$x\" 50% 'é'\n\tz", PasteWord::kFishUnescape),
            "(string unescape --style=url -- \"echo %22%24x%22 50%25 %27%C3%A9%27%0A%09z\" | string collect)");
}
