// korctl's command lines: every command's option table, gc's own words and durations, open's
// plan of kor's command line, key names and the seconds options are given in.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <exception>

#include "FuzzSupport.h"
#include "base/Durations.h"
#include "ctl/CommandTable.h"
#include "ctl/GarbageCollection.h"
#include "ctl/OpenPlan.h"
#include "text/KeyNames.h"

using namespace kor;

namespace {

// One command's table, chosen by the input, parses the words or refuses them as a usage error.
void checkOptionTable(const CommandEntry& entry, const std::vector<std::string>& words) {
  if (entry.arguments == Arguments::kRaw) return;
  std::vector<std::string> argv{entry.name};
  argv.insert(argv.end(), words.begin(), words.end());
  std::vector<char*> pointers;
  for (std::string& word : argv) pointers.push_back(&word[0]);
  pointers.push_back(nullptr);
  try {
    cxxopts::ParseResult args = buildCommandOptions(entry.name).parse(static_cast<int>(argv.size()), pointers.data());
    if (args.count("timeout")) {
      const long long ms = durationMillis(args["timeout"].as<double>());
      FUZZ_CHECK(ms >= -1000000000000LL && ms <= 1000000000000LL);
    }
  } catch (const std::exception&) {
    // a usage error, reported by the front door
  }
}

void checkDurations(const std::string& text) {
  long long limit = kDefaultIdleLimit;
  // A refused DUR changes nothing; an accepted one is a whole number of seconds, never negative,
  // reached without undefined behaviour.
  if (parseIdleDuration(text, limit)) FUZZ_CHECK(limit >= 0);
  else FUZZ_CHECK(limit == kDefaultIdleLimit);
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  const long long ms = durationMillis(seconds);
  FUZZ_CHECK(std::llabs(ms) <= 1000000000000LL);
  if (std::isnan(seconds)) FUZZ_CHECK(ms == 0);
  else if (std::fabs(seconds) < 1e9) FUZZ_CHECK(ms == static_cast<long long>(std::trunc(seconds * 1000.0)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::vector<const CommandEntry*>& table = commandTable();
  const CommandEntry& entry = *table[data[0] % table.size()];
  const std::string input = fuzz::bytes(data + 1, size - 1);
  const std::vector<std::string> words = fuzz::words(input);
  checkOptionTable(entry, words);
  checkDurations(input);
  try {
    (void)parseGcArguments(words);
  } catch (const std::exception&) {
  }
  std::vector<std::string> openWords{"korctl", "open"};
  openWords.insert(openWords.end(), words.begin(), words.end());
  const OpenPlan plan = planOpen(openWords);
  if (plan.hasName) FUZZ_CHECK(plan.name == words[0]);
  (void)keyBytes(input);
  return 0;
}
