#include <cstdio>

#include "ctl/CommandTable.h"
#include "ctl/Commands.h"
#include "ctl/OpenHelp.h"

namespace kor {

std::string openHelpText() {
  cxxopts::Options options("korctl open", commandDescription("open"));
  options.add_options("")("h,help", "Print help");
  options.positional_help("");
  options.custom_help("NAME [user@]host[:port] [OPTION...]");
  return options.help({""}, true) +
         "  ...         Passed through to kor (see `kor --help`); --command\n"
         "              is merged into the session's setup\n"
         "\n"
         "  NAME is the session name (korctl supplies kor's --name);\n"
         "  if NAME is already running it does nothing.  HOST comes\n"
         "  before any kor options.\n";
}

int openSession(int, char**) {
  std::fprintf(stderr, "korctl open: not available yet\n");
  return 1;
}

}  // namespace kor
