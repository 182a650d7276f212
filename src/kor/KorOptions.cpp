#include "kor/KorOptions.h"

#include <cctype>
#include <limits>
#include <stdexcept>

#include "base/Paths.h"

namespace kor {

namespace {

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// A decimal number without sign, at most max; raises with what on failure.
unsigned long long parseNumber(const std::string& text, unsigned long long max, const std::string& what) {
  if (!allDigits(text) || text.size() > 19) throw std::runtime_error(what);
  unsigned long long value = std::stoull(text);
  if (value > max) throw std::runtime_error(what);
  return value;
}

}  // namespace

double parseSeconds(const std::string& text) {
  const std::string bad = "invalid time '" + text + "' (use seconds, e.g. 30 or 2.5)";
  size_t used = 0;
  double seconds = 0;
  try {
    seconds = std::stod(text, &used);
  } catch (const std::exception&) {
    throw std::runtime_error(bad);
  }
  if (used != text.size() || !(seconds > 0) || seconds > 1e9) throw std::runtime_error(bad);
  return seconds;
}

size_t parseByteSize(const std::string& text) {
  const std::string bad = "invalid size '" + text + "' (use bytes or a K, M or G suffix, e.g. 64M)";
  size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 12) throw std::runtime_error(bad);
  unsigned long long value = std::stoull(text.substr(0, digits));
  std::string suffix = text.substr(digits);
  for (char& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  unsigned long long unit = 1;
  if (!suffix.empty() && suffix != "B") {
    char letter = suffix[0];
    std::string rest = suffix.substr(1);
    if (rest != "" && rest != "B" && rest != "IB") throw std::runtime_error(bad);
    if (letter == 'K') unit = 1024ull;
    else if (letter == 'M') unit = 1024ull * 1024;
    else if (letter == 'G') unit = 1024ull * 1024 * 1024;
    else throw std::runtime_error(bad);
  }
  if (value > std::numeric_limits<size_t>::max() / unit) throw std::runtime_error(bad);
  return static_cast<size_t>(value * unit);
}

void parseTermSize(const std::string& text, int& rows, int& cols) {
  const std::string bad = "invalid terminal size '" + text + "' (use ROWSxCOLS, e.g. 24x80)";
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) throw std::runtime_error(bad);
  unsigned long long r = parseNumber(text.substr(0, x), 65535, bad);
  unsigned long long c = parseNumber(text.substr(x + 1), 65535, bad);
  if (r == 0 || c == 0) throw std::runtime_error(bad);
  rows = static_cast<int>(r);
  cols = static_cast<int>(c);
}

KorOptions parseKorArgs(const std::vector<std::string>& args) {
  KorOptions options;
  std::vector<std::string> positional;
  bool sawScrollback = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (word == "-h" || word == "--help") {
      options.help = true;
      continue;
    }
    if (word == "--ctl") {
      options.ctl = true;
      continue;
    }
    if (word.size() < 2 || word[0] != '-') {
      positional.push_back(word);
      continue;
    }
    std::string key = word;
    std::string value;
    bool inlineValue = false;
    size_t equals = word.find('=');
    if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      key = word.substr(0, equals);
      value = word.substr(equals + 1);
      inlineValue = true;
    }
    static const char* const valued[] = {"--name", "--ctl-socket", "--command", "--shell",
                                         "--scrollback", "--size", "--login-timeout"};
    bool known = false;
    for (const char* option : valued) known = known || key == option;
    if (!known) throw std::runtime_error("unknown option '" + word + "' (see kor --help)");
    if (!inlineValue) {
      if (i + 1 >= args.size()) throw std::runtime_error("option '" + key + "' needs a value");
      value = args[++i];
    }
    if (key == "--name") options.name = value;
    else if (key == "--ctl-socket") options.ctlSocket = value;
    else if (key == "--command") options.command = value;
    else if (key == "--shell") options.shell = value;
    else if (key == "--size") parseTermSize(value, options.rows, options.cols);
    else if (key == "--login-timeout") options.loginTimeout = parseSeconds(value);
    else if (key == "--scrollback") {
      options.scrollback = parseByteSize(value);
      sawScrollback = true;
    }
  }
  if (options.help) return options;
  if (!options.ctl) throw std::runtime_error("only control mode is supported (kor --ctl --name NAME HOST)");
  if (options.name.empty()) throw std::runtime_error("--name NAME is required");
  const std::string nameProblem = newSessionNameProblem(options.name);
  if (!nameProblem.empty()) throw std::runtime_error(nameProblem);
  if (sawScrollback && (options.scrollback < kMinScrollback || options.scrollback > kMaxScrollback))
    throw std::runtime_error("--scrollback must be between " + std::to_string(kMinScrollback) + " and " +
                             std::to_string(kMaxScrollback) + " bytes");
  if (positional.empty()) throw std::runtime_error("HOST is required (kor --ctl --name NAME HOST)");
  if (positional.size() > 1)
    throw std::runtime_error("unexpected argument '" + positional[0] + "' (HOST comes last)");
  options.host = positional[0];
  if (options.host.empty()) throw std::runtime_error("HOST must not be empty");
  return options;
}

std::string korHelpText() {
  return "kor: the session daemon of korctl\n"
         "\n"
         "Usage:\n"
         "  kor --ctl --name NAME [OPTION...] HOST\n"
         "\n"
         "Starts a terminal session in the background and serves it on a control socket\n"
         "(~/.kor/control/NAME.sock). HOST is localhost, 127.0.0.1, ::1 or this machine's name\n"
         "for a local login shell, or [user@]host[:port] for a shell over ssh -tt.\n"
         "\n"
         "  --ctl                 control mode (the only mode)\n"
         "  --name NAME           session name\n"
         "  --ctl-socket PATH     serve on PATH instead of the default socket\n"
         "  --command TEXT        first line typed into the shell (the last one counts)\n"
         "  --shell PATH          local shell (default: $SHELL, the password database, /bin/sh)\n"
         "  --scrollback SIZE     output kept for readers (default 64M, at most 255.9M)\n"
         "  --size ROWSxCOLS      initial terminal size (default 24x80)\n"
         "  --login-timeout S     wait up to S seconds for a remote login (default 30)\n"
         "  -h, --help            print this help\n";
}

bool isLocalHost(const std::string& host, const std::string& ownHostName) {
  return host == "localhost" || host == "127.0.0.1" || host == "::1" ||
         (!ownHostName.empty() && host == ownHostName);
}

std::vector<std::string> sshCommand(const std::string& host, const std::string& loginNotice) {
  std::string target = host;
  std::string port;
  size_t at = target.find('@');
  size_t colon = target.find(':', at == std::string::npos ? 0 : at + 1);
  // One colon after the host part is a port; several are an IPv6 address without a port.
  if (colon != std::string::npos && target.find(':', colon + 1) == std::string::npos) {
    port = target.substr(colon + 1);
    target.erase(colon);
  }
  std::vector<std::string> command{"ssh", "-tt", "-o", "ControlPath=none", "-o", "PermitLocalCommand=yes",
                                   "-o", "LocalCommand=" + loginNotice};
  if (!port.empty()) {
    command.push_back("-p");
    command.push_back(port);
  }
  command.push_back("--");  // a host never reads as an ssh option
  command.push_back(target);
  return command;
}

}  // namespace kor
