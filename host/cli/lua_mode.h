// vesko-calc's Lua mode: chunks typed or read as Lua, run on the plug-in's
// interpreter through Vesko_RunScript, their values shown as lua5.1 shows
// them.
#ifndef VESKO_HOST_CLI_LUA_MODE_H
#define VESKO_HOST_CLI_LUA_MODE_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/cli/calc_outcome.h"

namespace vesko_host {

struct LuaOutcome {
  bool incomplete = false;  // the chunk goes on: more lines are needed
  bool succeeded = false;
  bool hasValues = false;  // with `values`: the chunk's values, tab-separated
  std::string values;
  int error = 0;  // on failure, as Vesko_LastError tells it
  std::string message;
  std::string traceback;
};

// Runs `source` as lua5.1 runs a line at its prompt: "=expr" and a bare
// expression give their values, other chunks run as statements. With
// `printHere` the values go through the script's `print` (to standard
// output, where print writes), else back in the outcome. A chunk cut short
// is `incomplete` unless `final`, which reports it as the syntax error.
LuaOutcome runLuaChunk(const std::string& source, bool printHere, bool final);

// Prints the outcome as `style` asks; answers its exit status.
int printLuaOutcome(const LuaOutcome& outcome, OutputStyle style, bool traceback);

// Global names and table fields ("string.f", "vesko.Ev") that begin with
// `word`, read from the live interpreter without running a metamethod.
std::vector<std::string> luaNamesStartingWith(std::string_view word);

// Lua read from a file: each chunk runs once it is complete, as typed at
// the prompt; answers the worst exit status.
int evaluateLuaLines(std::FILE* in, OutputStyle style);

}  // namespace vesko_host

#endif
