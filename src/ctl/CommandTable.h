#pragma once
#include <cxxopts.hpp>
#include <string>

namespace kor {

extern const char* const kVersion;
extern const char* const kOverview;

// "" for a word that is not one of the sixteen commands.
std::string commandDescription(const std::string& command);
// The option table of one command word; never fails.
cxxopts::Options buildCommandOptions(const std::string& command);
// What `help COMMAND` and `COMMAND --help` print: the table's help, and for `key` its key names.
std::string commandHelp(const std::string& command);

}  // namespace kor
