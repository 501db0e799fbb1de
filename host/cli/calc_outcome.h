// One calculation's outcome as vesko-calc shows it: a result line, a "?"
// (with the error inline at a terminal), or a JSON object.
#ifndef VESKO_HOST_CLI_CALC_OUTCOME_H
#define VESKO_HOST_CLI_CALC_OUTCOME_H

#include <string>
#include <string_view>
#include <vector>

namespace vesko_host {

struct CalcOutcome {
  bool succeeded = false;
  std::string text;  // the result's text form, returns as "\r"
  // On failure: the plug-in's error code and message when one of its
  // functions failed (as Vesko_LastError tells them), else the host's.
  int error = 0;
  std::string message;
  bool external = false;                 // a registered function failed
  bool malformed = false;                // the calculation itself is wrong
  std::vector<std::string> sqlFailures;  // SQLite's reasons, during it
};

CalcOutcome calculate(const std::string& expression);

enum class OutputStyle {
  lines,     // pipes: the result, or "?"; reasons on standard error
  terminal,  // the result, or "? code: message"
  json,      // one JSON object per calculation
};

// Prints the outcome to standard output (and reasons to standard error);
// answers its exit status.
int printOutcome(const std::string& expression, const CalcOutcome& outcome, OutputStyle style);

// {"result":"..."} or {"error":N,"message":"..."}: one line, no line breaks.
std::string jsonObject(const CalcOutcome& outcome);

// One line to standard output: flushed at a terminal, buffered in a pipe.
void printLine(std::string_view text);

// Whether standard output has failed: its reader went away (EPIPE) or its
// file is full. Input is then no longer worth reading.
bool outputFailed();

}  // namespace vesko_host

#endif
