#include "ctl/TerminalSize.h"

#include "TerminalInfo.pb.h"
#include "base/Headers.h"

namespace kor {

std::string terminalInfoPayload(int rows, int columns, int pixelWidth, int pixelHeight) {
  TerminalInfo info;
  info.set_rows(rows);
  info.set_columns(columns);
  info.set_pixelwidth(pixelWidth);
  info.set_pixelheight(pixelHeight);
  return protoToString(info);
}

bool sendTerminalSize(const Endpoint& session, int rows, int columns, int pixelWidth, int pixelHeight, bool quiet) {
  uint8_t replyType = 0;
  std::string reply;
  return controlExchange(session, kResize, terminalInfoPayload(rows, columns, pixelWidth, pixelHeight), replyType,
                         reply, quiet);
}

}  // namespace kor
