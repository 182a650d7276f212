#include "ctl/Kill.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "base/Durations.h"

namespace kor {

int killSession(const Endpoint& session, double waitSeconds) {
  uint8_t replyType = 0;
  std::string reply;
  if (!controlExchange(session, kKill, "", replyType, reply, false)) return 1;
  if (!(waitSeconds > 0)) return 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(durationMillis(waitSeconds));
  if (!acceptsConnections(session)) return 0;
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "korctl: session '%s' still alive %.0fs after kill\n", session.name.c_str(),
                   waitSeconds);
      return 1;
    }
    usleep(100000);
    if (!acceptsConnections(session)) return 0;
  }
}

}  // namespace kor
