#include "text/TerminalQueries.h"

#include <algorithm>

#include "base/ControlSequence.h"

namespace kor {

namespace {

constexpr char kEnq = 0x05;  // asks for the answerback message
constexpr size_t kMaxCsi = 256;
constexpr size_t kMaxQueryString = 512;  // longer strings set something; queries are short

using State = QueryFilter::State;

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20; }
bool endsSequence(char c) { return c == kCan || c == kSub; }

// A whole control sequence "ESC [ ... final", controls inside it left out.
ControlSequence parseCsi(const std::string& sequence) {
  std::string body;
  for (size_t i = 2; i + 1 < sequence.size(); ++i)
    if (!isControl(sequence[i])) body += sequence[i];
  return splitControlSequence(body);
}

bool noParamOrZero(const ControlSequence& csi) {
  return csi.params.empty() || (csi.params.size() == 1 && csi.params[0] <= 0);
}

bool isQueryCsi(const std::string& sequence) {
  const ControlSequence c = parseCsi(sequence);
  const char final = sequence.back();
  const std::string& in = c.intermediates;
  if (in.empty()) {
    switch (final) {
      case 'n':  // device status, cursor position (and the DEC forms)
        return c.leader == 0 || c.leader == '?';
      case 'c':  // primary, secondary, tertiary device attributes
        return (c.leader == 0 || c.leader == '>' || c.leader == '=') && noParamOrZero(c);
      case 'q':  // terminal name and version
        return c.leader == '>';
      case 't': {  // window reports: state, position, sizes, icon label, title
        long first = c.params.empty() ? -1 : c.params[0];
        return c.leader == 0 && (first == 11 || first == 13 || first == 14 || first == 15 || first == 16 ||
                                 first == 18 || first == 19 || first == 20 || first == 21);
      }
      case 'x':  // terminal parameters
        return c.leader == 0 && (c.params.empty() || (c.params.size() == 1 && c.params[0] <= 1));
      case 'u':  // keyboard protocol flags
      case 'm':  // key modifier options
      case 'S':  // graphics attributes
        return c.leader == '?';
      default:
        return false;
    }
  }
  if (in == "$") return final == 'p' || final == 'u' || final == 'w';  // mode, state, presentation reports
  if (in == "*") return final == 'y';                                   // checksum of an area
  if (in == "\"") return final == 'v';                                  // displayed extent
  if (in == "&") return final == 'u';                                   // user-preferred character set
  if (in == "'" || in == "#") return final == '|';                      // locator position, SGR report
  return false;
}

// An operating system command: colour and palette queries ask with a "?" in place of a colour.
bool isQueryOsc(const std::string& payload) {
  size_t semicolon = payload.find(';');
  if (semicolon == std::string::npos) return false;
  const std::string command = payload.substr(0, semicolon);
  long number = -1;
  if (!command.empty() && command.find_first_not_of("0123456789") == std::string::npos && command.size() < 6)
    number = std::stol(command);
  const bool colours = number == 4 || number == 5 || (number >= 10 && number <= 19) || number == 52;
  if (!colours) return false;
  size_t at = semicolon + 1;
  for (;;) {
    size_t next = payload.find(';', at);
    if (payload.compare(at, next == std::string::npos ? std::string::npos : next - at, "?") == 0) return true;
    if (next == std::string::npos) return false;
    at = next + 1;
  }
}

// A device control string: status-string and capability requests.
bool isQueryDcs(const std::string& payload) {
  size_t i = 0;
  while (i < payload.size() && payload[i] >= 0x30 && payload[i] <= 0x3f) ++i;
  return payload.compare(i, 2, "$q") == 0 || payload.compare(i, 2, "+q") == 0;
}

// held is a whole string: introducer, payload and terminator (or the ESC that broke it off).
bool isQueryString(const QueryFilter& filter, size_t terminatorLength) {
  const std::string& held = filter.held;
  std::string payload = held.substr(2, held.size() - 2 - terminatorLength);
  return filter.introducer == ']' ? isQueryOsc(payload) : isQueryDcs(payload);
}

void pass(QueryFilter& filter, std::string& out) {
  out += filter.held;
  filter.held.clear();
}

// A query goes; the controls inside it act as they would have.
void drop(QueryFilter& filter, std::string& out) {
  for (size_t i = 1; i < filter.held.size(); ++i)
    if (isControl(filter.held[i])) out += filter.held[i];
  filter.held.clear();
}

void endString(QueryFilter& filter, size_t terminatorLength, std::string& out) {
  if (isQueryString(filter, terminatorLength)) {
    filter.held.clear();
  } else {
    pass(filter, out);
  }
  filter.state = State::Ground;
}

void startEscape(QueryFilter& filter) {
  filter.held.assign(1, kEsc);
  filter.state = State::Escape;
}

void stepEscape(QueryFilter& filter, char c, std::string& out) {
  if (c == kEsc) {
    pass(filter, out);
    return startEscape(filter);
  }
  filter.held += c;
  if (endsSequence(c)) {
    pass(filter, out);
    filter.state = State::Ground;
  } else if (isControl(c) || (c >= 0x20 && c <= 0x2f)) {
    // controls act inside the sequence; intermediates continue it (no query has this many)
    if (filter.held.size() > kMaxCsi) {
      pass(filter, out);
      filter.state = State::Ground;
    }
  } else if (filter.held.size() == 2 && c == '[') {
    filter.state = State::Csi;
  } else if (filter.held.size() == 2 && (c == ']' || c == 'P')) {
    filter.introducer = c;
    filter.state = State::String;
  } else {
    if (filter.held == "\x1bZ") filter.held.clear();  // identify terminal: a query
    pass(filter, out);
    filter.state = State::Ground;
  }
}

void stepCsi(QueryFilter& filter, char c, std::string& out) {
  if (c == kEsc) {
    pass(filter, out);
    return startEscape(filter);
  }
  filter.held += c;
  const unsigned char u = static_cast<unsigned char>(c);
  if (endsSequence(c)) {
    pass(filter, out);
    filter.state = State::Ground;
  } else if (u >= 0x40 && u <= 0x7e) {
    if (isQueryCsi(filter.held)) drop(filter, out);
    else pass(filter, out);
    filter.state = State::Ground;
  } else if (filter.held.size() > kMaxCsi) {
    pass(filter, out);  // no query is this long; the rest goes through as it comes
    filter.state = State::Ground;
  }
}

void step(QueryFilter& filter, char c, std::string& out) {
  switch (filter.state) {
    case State::Ground:
      if (c == kEsc) startEscape(filter);
      else if (c != kEnq) out += c;
      return;
    case State::Escape:
      return stepEscape(filter, c, out);
    case State::Csi:
      return stepCsi(filter, c, out);
    case State::String:
      filter.held += c;
      if (c == kBel) return endString(filter, 1, out);
      if (c == kEsc) {
        filter.state = State::StringEscape;
      } else if (endsSequence(c)) {
        pass(filter, out);
        filter.state = State::Ground;
      } else if (filter.held.size() > kMaxQueryString) {
        pass(filter, out);
        filter.state = State::PassString;
      }
      return;
    case State::StringEscape:
      if (c == '\\') {
        filter.held += c;
        return endString(filter, 2, out);
      }
      filter.held.pop_back();  // broken off: the ESC starts the next sequence
      endString(filter, 0, out);
      startEscape(filter);
      return stepEscape(filter, c, out);
    case State::PassString:
      if (c == kEsc) {
        startEscape(filter);
        filter.state = State::PassStringEscape;
        return;
      }
      out += c;
      if (c == kBel || endsSequence(c)) filter.state = State::Ground;
      return;
    case State::PassStringEscape:
      if (c == '\\') {
        out += filter.held + c;
        filter.held.clear();
        filter.state = State::Ground;
        return;
      }
      filter.state = State::Escape;
      return stepEscape(filter, c, out);
  }
}

}  // namespace

std::string filterQueries(QueryFilter& filter, const std::string& chunk) {
  std::string out;
  out.reserve(chunk.size());
  size_t i = 0;
  while (i < chunk.size()) {
    if (filter.state == State::Ground) {  // text goes through in runs
      size_t end = i;
      while (end < chunk.size() && chunk[end] != kEsc && chunk[end] != kEnq) ++end;
      out.append(chunk, i, end - i);
      i = end;
      if (i == chunk.size()) break;
    }
    step(filter, chunk[i++], out);
  }
  return out;
}

std::string releaseQueries(QueryFilter& filter) {
  std::string out = filter.held;
  filter.held.clear();
  filter.state = State::Ground;
  return out;
}

std::string replayedOutput(QueryFilter& filter, const std::string& data, int64_t nextCursor, int64_t live) {
  const int64_t from = nextCursor - static_cast<int64_t>(data.size());
  const size_t history = static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(live - from, 0), data.size()));
  std::string out = filterQueries(filter, history == data.size() ? data : data.substr(0, history));
  if (history < data.size()) {
    out += releaseQueries(filter);
    out.append(data, history, std::string::npos);
  }
  return out;
}

}  // namespace kor
