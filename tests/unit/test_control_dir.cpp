#include "PrivateHome.h"
#include "ctl/ControlDir.h"

using namespace kor;

class ControlScan : public PrivateHome {};

TEST_F(ControlScan, SocketNamesAreSortedBytewise) {
  EXPECT_TRUE(scanControlDir().empty());  // no control directory at all
  makeDir(kor);
  makeDir(control);
  for (const char* file : {"b.sock", "a.sock", "ab.sock", "B.sock", ".sock", "x.sock.gone", "a.framing", "sock"})
    writeFile(control + "/" + file, "");
  EXPECT_EQ(scanControlDir(), (std::vector<std::string>{"B", "a", "ab", "b"}));
  EXPECT_EQ(controlEndpoint("a").path, control + "/a.sock");
  EXPECT_EQ(controlEndpoint("a").name, "a");
}
