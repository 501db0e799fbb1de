#include "host/cli/calc_options.h"

#include <cstdio>
#include <cstdlib>

namespace vesko_host {

const char kCalcUsage[] =
    R"usage(usage: vesko-calc [--db FILE] [--plugin PATH] [--json] [--lua]
                  [--query-seconds S] [--query-memory B] [-f FILE | EXPR]...
       vesko-calc -v | --version | -h | --help

Evaluates FileMaker-style calculations in the substitute host, with the
Vesko plug-in loaded and enabled, and prints one result per calculation.
Without EXPR or -f it reads calculations from standard input, one per line.
With --lua, and for a FILE whose name ends in .lua, the input is Lua instead:
each chunk runs through Vesko_RunScript once it is complete, as at the
lua> prompt of the shell, and "=expr" or a bare expression prints its values.

At a terminal it is a shell: a prompt, a line editor, .help, .functions,
.lua and .calc (the Lua mode and back), .traceback, .mode json|text, .quit;
a failed calculation shows its error ("? 3020: ..."), and a calculation
with an open text constant, comment or parenthesis goes on at the "...>"
prompt. The keys: Left/Right (Ctrl-B/Ctrl-F), Home/End (Ctrl-A/Ctrl-E),
Backspace, Delete, Ctrl-K and Ctrl-U cut to the end and to the start, Tab
completes a function's name (in the Lua mode: globals and fields). Up/Down
(Ctrl-P/Ctrl-N) go through the earlier entries, kept in ~/.vesko_calc_history
(a calculation of several lines is one entry); Ctrl-R searches them. Ctrl-C
clears the line, Ctrl-D on an empty line ends. Ctrl-C while a calculation
runs does not stop it (the plug-in's time limit, Vesko_Timeout, does) and
ends nothing.

Options:
  --db FILE      the database file, an SQLite file, that ExecuteSQL queries
                 and Get(FilePath) names; without it, the sample database
                 built from examples/sample.sql (next to vesko-calc in the
                 build, in share/vesko when installed), opened read-only
  --plugin PATH  the plug-in library to load; without it, the one built or
                 installed with vesko-calc
  -f FILE        evaluates the calculations of FILE, one per line (blank
                 lines and lines starting with // are skipped); - is
                 standard input. -f and EXPR can be given more than once.
  --lua          the input is Lua chunks, not calculations
  --query-seconds S   stops an SQL query after S seconds (default 60; 0: never),
                 and waits at most that long for another program's lock on
                 the database file
  --query-memory B    the most bytes a query's rows may hold (default 256 MiB;
                 0: no cap); past either, ExecuteSQL answers error 8311 or 8312
  --json         prints each calculation's outcome as one JSON object on a
                 line: {"result":"..."} or {"error":1218,"message":"..."}
                 (a return in a result is \r inside the string; a Lua chunk
                 without values gives {"result":null})
  -v, --version  the version of vesko-calc
  -h, --help     this text

The calculation language:
  constants      12  3.5  1e3  "text"  (in text: \" and \\; ¶ is a return
                 inside and outside text, \¶ the sign itself)
  operators      ^   * /   + -   &   = <> ≠ < > <= ≤ >= ≥   not   and   or xor
                 (tightest first); & joins texts; tests give 1 or 0
  functions      Name(parameter; parameter; ...), or Name alone without
                 parameters: every function the plug-in registers
                 (Vesko_RunScript, Vesko_LastError, ...) and the built-ins
                 If(test; then; else)  GetAsText(x)  GetAsNumber(x)  Length(t)
                 Left(t; n)  Right(t; n)  Middle(t; start; n)  Upper(t)
                 Lower(t)  Char(codes)  Code(t)  Date(month; day; year)
                 Time(hours; minutes; seconds)  Timestamp(date; time)
                 Get(FilePath)  Get(TemporaryPath)  Get(DocumentsPath)
                 Get(DesktopPath)  Get(FileMakerPath)  Get(CurrentDate)
                 Get(CurrentTime)  Get(CurrentTimestamp)
  comments       // to the end of the line, /* ... */

Output: the result's text form, one line each (a return in a result starts
a new line); numbers without exponent, dates as M/D/YYYY, times as H:MM:SS.
"?" stands for a calculation that failed: a plug-in function answered an
error (Vesko_LastError tells which; at a terminal it shows after the "?"),
or the result is out of range (error 1218). The reason goes to standard
error, a failed SQL query's as SQLite gives it. A script's print and
io.write go to standard output too, between the result lines.

Exit status: 0 when every calculation succeeded, 1 when one failed (or the
output could not be written: a full disk; a reader that went away ends
vesko-calc early), 2 for a malformed calculation, a bad option or an
unreadable file (the reason goes to standard error).

Examples:
  vesko-calc 'Vesko_Version("long")' '1 + 2 * 3' 'Upper("héllo") & ¶ & "world"'
  vesko-calc 'Vesko_RunScript("return vesko.ExecuteSQL(\"SELECT name FROM customers\")[1].f1")'
  vesko-calc 'Vesko_RunScript("local t = ... return vesko.timestamp.new(t:value() + 86400)"; Date(12; 31; 2025))'
  vesko-calc --json 'Vesko_RunScript("return 6 * 7")' '"two" & ¶ & "lines"'
  vesko-calc --lua 'x = 6 * 7' '=x, type(x)' 'string.rep("ab", 3)'
  printf '1 + 1\nLength("four")\n' > calcs.txt && vesko-calc -f calcs.txt
  echo 'Get(FilePath)' | vesko-calc
)usage";

namespace {

// Sets the limit that `option` names from `text`; false when it is not a
// number at least 0.
bool readQueryLimit(const std::string& option, const char* text, QueryLimits* limits) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= 0) || value > 1e15) return false;
  if (option == "--query-seconds") {
    limits->seconds = value;
  } else {
    limits->rowBytes = static_cast<std::size_t>(value);
  }
  return true;
}

}  // namespace

int readCalcOptions(int argc, char** argv, CalcOptions* options) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool queryLimit = argument == "--query-seconds" || argument == "--query-memory";
    const bool takesValue =
        argument == "--db" || argument == "--plugin" || argument == "-f" || queryLimit;
    if (optionsEnded || argument.empty() || argument[0] != '-') {
      options->sources.push_back({CalcSource::Kind::expression, false, argument});
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      std::fputs(kCalcUsage, stdout);
      return kAllGood;
    } else if (argument == "--version" || argument == "-v") {
      std::puts("vesko-calc " VESKO_VERSION);
      return kAllGood;
    } else if (argument == "--json") {
      options->json = true;
    } else if (argument == "--lua") {
      options->lua = true;
    } else if (queryLimit && i + 1 < argc) {
      if (!readQueryLimit(argument, argv[++i], &options->queryLimits)) {
        std::fprintf(stderr, "vesko-calc: %s needs a number at least 0, not %s\n", argument.c_str(),
                     argv[i]);
        return kUsageOrMalformed;
      }
    } else if (takesValue && i + 1 < argc) {
      const std::string value = argv[++i];
      if (argument == "-f") {
        const bool lua = value.size() > 4 && value.compare(value.size() - 4, 4, ".lua") == 0;
        options->sources.push_back({CalcSource::Kind::file, lua, value});
      } else if (value.empty()) {
        std::fprintf(stderr, "vesko-calc: %s needs a value, not an empty one\n", argument.c_str());
        return kUsageOrMalformed;
      } else {
        (argument == "--db" ? options->database : options->plugin) = value;
      }
    } else if ((argument.size() < 2 || argument[1] != '-') && argument != "-f") {
      // "-1 + 2" is a calculation, not an option.
      options->sources.push_back({CalcSource::Kind::expression, false, argument});
    } else {
      std::fprintf(stderr, "vesko-calc: %s %s (try --help)\n", argument.c_str(),
                   takesValue ? "needs a value" : "is not an option");
      return kUsageOrMalformed;
    }
  }
  return -1;
}

}  // namespace vesko_host
