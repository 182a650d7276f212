#pragma once
// The daemon's exchange record as sniff reads it: parsing a Sniff reply and rendering the
// recorded bytes as printable text. Pure, no I/O.
#include <string>
#include <vector>

namespace kor {

// One recorded transfer: the direction byte ('>' for one way, anything else the other) and
// the bytes that passed.
struct ExchangeRecord {
  char direction = 0;
  std::string data;
};

// A parsed Sniff reply: the records in order, where to continue, and whether records between
// the requested cursor and the first returned one were no longer retained.
struct ExchangeReply {
  std::vector<ExchangeRecord> records;
  long long nextCursor = 0;
  bool gap = false;
};

// A payload shorter than 9 bytes gives no records, next cursor 0 and gap clear. Records are
// read while a whole one fits; the first that does not fit and everything after it are ignored.
ExchangeReply parseExchange(const std::string& payload);

// Bytes as printable text: \t \n \r \' \\ for those five bytes, printable ASCII as itself,
// every other byte as \xHH (lower-case hex).
std::string escapeBytes(const std::string& data);

// One output line of sniff: "» " or "« " (by direction), the escaped data, a line feed.
std::string formatExchangeRecord(const ExchangeRecord& record);

}  // namespace kor
