// vesko-calc at a terminal: a banner, dot commands, calculations that go on
// over several lines, Tab completion of function names, and Ctrl-C that
// never ends the session while a calculation runs.
#ifndef VESKO_HOST_CLI_CALC_SHELL_H
#define VESKO_HOST_CLI_CALC_SHELL_H

#include <string>
#include <string_view>
#include <vector>

#include "host/cli/calc_outcome.h"

namespace vesko_host {

// Reads calculations from the terminal on standard input until the end of
// input or .quit; answers the exit status.
// `lua` starts it in the Lua mode.
int runShell(OutputStyle style, bool lua = false);

// True when `calculation` stops inside a text constant or a comment, or
// with a parenthesis still open: the next line continues it.
bool continuesOnNextLine(std::string_view calculation);

// The built-ins and the registered functions whose names begin with
// `word` in any letter case, sorted.
std::vector<std::string> functionNamesStartingWith(std::string_view word);

}  // namespace vesko_host

#endif
