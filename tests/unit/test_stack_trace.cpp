#include <gtest/gtest.h>

#include "base/StackTrace.h"

using namespace kor;

TEST(StackTrace, MapsKeepLowestStartAndHighestEndPerFile) {
  std::vector<std::pair<std::string, MappedFile>> maps;
  addMapsLine("55d0a000-55d0b000 r--p 00000000 08:01 123 /usr/bin/korctl", maps);
  addMapsLine("55d0b000-55d0f000 r-xp 00001000 08:01 123 /usr/bin/korctl", maps);
  addMapsLine("7ffd1000-7ffd2000 rw-p 00000000 00:00 0", maps);  // no path: five fields
  addMapsLine("garbage", maps);
  ASSERT_EQ(maps.size(), 1u);
  EXPECT_EQ(maps[0].first, "/usr/bin/korctl");
  EXPECT_EQ(maps[0].second.start, 0x55d0a000u);
  EXPECT_EQ(maps[0].second.end, 0x55d0f000u);
}

TEST(StackTrace, Addr2lineLines) {
  std::string function, file;
  int line = -1;
  EXPECT_TRUE(parseAddr2lineLine("kor::f(int) at /src/base/a b.cpp:42 (discriminator 1)", function, file, line));
  EXPECT_EQ(function, "kor::f(int)");
  EXPECT_EQ(file, "/src/base/a b.cpp");
  EXPECT_EQ(line, 42);
  EXPECT_FALSE(parseAddr2lineLine("?? ??:0", function, file, line));
  EXPECT_FALSE(parseAddr2lineLine("main", function, file, line));
}

TEST(StackTrace, FrameLines) {
  StackFrame frame{3, "0x1a2b", "/bin/x", "kor::g()", "/src/dir\\sub/file.cpp", 17};
  EXPECT_EQ(formatStackFrame(frame), "[3] 0x1a2b kor::g() (file.cpp:17)");
  frame.line = -1;
  frame.function = "";
  EXPECT_EQ(formatStackFrame(frame), "[3] 0x1a2b");
}

__attribute__((noinline)) static std::vector<StackFrame> framesFromHere(bool symbolize) {
  std::vector<StackFrame> frames = collectStackTrace(symbolize);
  asm volatile("");  // no tail call: this function stays on the stack
  return frames;
}

TEST(StackTrace, TraceStartsAtTheCaller) {
  auto frames = framesFromHere(false);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0].index, 0);
  EXPECT_NE(frames[0].function.find("framesFromHere"), std::string::npos) << formatStackTrace(frames);
  EXPECT_EQ(frames[0].address.rfind("0x", 0), 0u);
  EXPECT_NE(frames[0].module.find("unit_tests"), std::string::npos);
  bool sawMain = false;
  for (const auto& frame : frames) sawMain |= frame.function == "main";
  EXPECT_TRUE(sawMain) << formatStackTrace(frames);
}

TEST(StackTrace, SymbolizedFramesCarrySourceLines) {
  auto frames = framesFromHere(true);
  std::string trace = formatStackTrace(frames);
  EXPECT_NE(trace.find("(test_stack_trace.cpp:"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("collectStackTrace"), std::string::npos) << trace;
}
