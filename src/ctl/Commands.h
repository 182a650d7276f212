#pragma once
// The command routines of korctl. Each returns the process exit status.
#include <string>
#include <vector>

namespace kor {

int openSession(int argc, char** argv);                                  // cmd_open.cpp
int killSession(const std::string& name, double waitSeconds);           // cmd_kill.cpp
int runCommand(const std::string& name, const std::string& cmd, int framing,
               double timeoutSeconds);                                   // cmd_run.cpp
int runRead(const std::string& name, long long cursor, bool strip, bool follow,
            double timeoutSeconds);                                      // cmd_read.cpp
int expectPattern(const std::string& name, const std::string& pattern, bool fromStart, bool exact,
                  long long cursor, double timeoutSeconds);              // cmd_expect.cpp
int writeInput(const std::string& name, const std::string* text);       // cmd_input.cpp (null: stdin)
int writeLine(const std::string& name, const std::string& text, bool secret);  // cmd_input.cpp
int sendKeys(const std::string& name, const std::vector<std::string>& keys);   // cmd_input.cpp
int waitQuiet(const std::string& name, double idleSeconds, double timeoutSeconds);  // cmd_wait.cpp
int resizeSession(const std::string& name, int rows, int columns);      // cmd_attach.cpp
int sniffExchange(const std::string& name, bool follow, long long cursor, bool tail);  // cmd_sniff.cpp
int attachSession(const std::string& name, bool observe, long long cursor, bool resize);  // cmd_attach.cpp
int printSessionTable();                                                 // cmd_sessions.cpp
int showInfo(const std::string& name);                                   // cmd_info.cpp
int collectGarbage(int argc, char** argv);                               // cmd_gc.cpp

// Framing codes of `run --framing`.
enum Framing { kFramingAuto = 0, kFramingOsc133 = 1, kFramingMark = 2 };

}  // namespace kor
