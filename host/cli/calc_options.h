// vesko-calc's command line.
#ifndef VESKO_HOST_CLI_CALC_OPTIONS_H
#define VESKO_HOST_CLI_CALC_OPTIONS_H

#include <string>
#include <vector>

#include "host/substitute_host.h"

namespace vesko_host {

// Exit statuses, the worst one seen wins.
constexpr int kAllGood = 0, kSomeFailed = 1, kUsageOrMalformed = 2;

// Where calculations come from, in the order the command line gives them.
struct CalcSource {
  enum class Kind { expression, file };
  Kind kind = Kind::expression;
  bool lua = false;  // Lua chunks rather than calculations: a FILE.lua
  std::string text;  // the calculation, or the file's path ("-": standard input)
};

struct CalcOptions {
  std::string database;             // empty: the sample
  std::string plugin;               // empty: the default places
  std::vector<CalcSource> sources;  // none: standard input
  bool json = false;
  bool lua = false;         // --lua
  QueryLimits queryLimits;  // --query-seconds, --query-memory
};

// Reads the options; answers the exit status to stop with (after --help,
// --version or a bad option, whose reason goes to standard error), or -1 to
// go on.
int readCalcOptions(int argc, char** argv, CalcOptions* options);

// The --help text.
extern const char kCalcUsage[];

}  // namespace vesko_host

#endif
