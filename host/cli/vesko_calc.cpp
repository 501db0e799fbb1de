// vesko-calc: evaluates calculations in the substitute host, with the
// plug-in loaded, the way a FileMaker calculation would.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/objects/host_errors.h"
#include "host/cli/line_editor_history.h"
#include "host/cli/line_editor_terminal.h"
#include "host/plugins/plugin_loader.h"
#include "host/substitute_host.h"

namespace {

// Exit statuses, the worst one seen wins.
constexpr int kAllGood = 0, kSomeFailed = 1, kUsageOrMalformed = 2;

const char kUsage[] = R"(usage: vesko-calc [--db FILE] [--plugin PATH] [EXPR...]

Evaluates FileMaker-style calculations in the substitute host, with the
Vesko plug-in loaded and enabled, and prints one result per calculation.
Without EXPR it reads calculations from standard input, one per line (with
a prompt when standard input is a terminal).

At a terminal the line can be edited: Left/Right (Ctrl-B/Ctrl-F), Home/End
(Ctrl-A/Ctrl-E), Backspace, Delete, Ctrl-K and Ctrl-U cut to the end and to
the start. Up/Down (Ctrl-P/Ctrl-N) go through the earlier lines, kept in
~/.vesko_calc_history; Ctrl-C clears the line, Ctrl-D on an empty line ends.

Options:
  --db FILE      the database file, an SQLite file, that ExecuteSQL queries
                 and Get(FilePath) names; without it, the sample database
                 built from examples/sample.sql (installed next to vesko-calc),
                 opened read-only
  --plugin PATH  the plug-in library to load; without it, libvesko.so next
                 to vesko-calc or in the build tree
  --query-seconds S   stop an SQL query after S seconds (default 60; 0: never)
  --query-memory B    the most bytes a query's rows may hold (default 256 MiB;
                 0: no cap); past either, ExecuteSQL answers error 8311 or 8312
  --help         this text

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
error (Vesko_LastError tells which), or a value was out of range.

Exit status: 0 when every calculation succeeded, 1 when one printed "?",
2 for a malformed calculation or a bad option (the reason goes to standard
error).

Examples:
  vesko-calc 'Vesko_Version("long")' '1 + 2 * 3' 'Upper("héllo") & ¶ & "world"'
  vesko-calc 'Vesko_RunScript("return vesko.ExecuteSQL(\"SELECT name FROM customers\")[1].f1")'
  vesko-calc 'Vesko_RunScript("local t = ...; return t + 86400"; Date(12; 31; 2025))'
  echo 'Get(FilePath)' | vesko-calc --db ~/sales.sqlite
)";

struct Options {
  std::string database;  // empty: the sample
  std::string plugin;    // empty: the default places
  std::vector<std::string> expressions;
  vesko_host::QueryLimits queryLimits;
};

// Sets the limit that `option` names from `text`; false when it is not a
// number at least 0.
bool readQueryLimit(const std::string& option, const char* text, vesko_host::QueryLimits* limits) {
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

// Reads the options; answers the exit status to stop with, or -1 to go on.
int readOptions(int argc, char** argv, Options* options) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.rfind("--", 0) != 0 || argument.size() == 2) {
      if (argument == "--" && !optionsEnded) {
        optionsEnded = true;
        continue;
      }
      if (argument == "-h") {
        std::fputs(kUsage, stdout);
        return kAllGood;
      }
      options->expressions.push_back(argument);
    } else if (argument == "--help") {
      std::fputs(kUsage, stdout);
      return kAllGood;
    } else if ((argument == "--query-seconds" || argument == "--query-memory") && i + 1 < argc) {
      if (!readQueryLimit(argument, argv[++i], &options->queryLimits)) {
        std::fprintf(stderr, "vesko-calc: %s needs a number at least 0, not %s\n", argument.c_str(),
                     argv[i]);
        return kUsageOrMalformed;
      }
    } else if ((argument == "--db" || argument == "--plugin") && i + 1 < argc) {
      (argument == "--db" ? options->database : options->plugin) = argv[++i];
    } else {
      std::fprintf(
          stderr, "vesko-calc: %s %s (try --help)\n", argument.c_str(),
          argument == "--db" || argument == "--plugin" || argument.rfind("--query-", 0) == 0
              ? "needs a value"
              : "is not an option");
      return kUsageOrMalformed;
    }
  }
  return -1;
}

std::string programFolder() {
  std::error_code failed;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", failed);
  return failed ? std::string() : program.parent_path().string();
}

// The first of `candidates` that exists, or the last one.
std::string firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    std::error_code failed;
    if (!candidate.empty() && std::filesystem::exists(candidate, failed)) return candidate;
  }
  return candidates.back();
}

// Results go to the C library's standard output, the stream a script's
// print writes to as well, so the two keep their order.  Piped, it is
// flushed only when full or at the end; at a terminal after each result.
bool outputIsTerminal = false;

void printResult(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  if (outputIsTerminal) std::fflush(stdout);
}

// Prints one result line; answers its exit status.
int evaluateLine(const std::string& expression) {
  vesko_host::Value result;
  vesko_host::EvaluationFailure failure;
  const int16_t error = vesko_host::evaluate(expression, &result, &failure);
  if (error == vesko_host::kHostErrorNone) {
    std::string text = vesko_host::textForm(result);
    for (char& c : text)
      if (c == '\r') c = '\n';
    printResult(text);
    // A value with no text form (a number out of range) shows as "?" too.
    return text == "?" ? kSomeFailed : kAllGood;
  }
  printResult("?");
  // A plug-in function's failure is told by Vesko_LastError; the others here.
  if (!failure.external)
    std::fprintf(stderr, "vesko-calc: %s: %s (error %d)\n", expression.c_str(),
                 failure.message.c_str(), error);
  const bool malformed = !failure.external && vesko_host::isMalformedExpressionError(error);
  return malformed ? kUsageOrMalformed : kSomeFailed;
}

// Lines typed at a terminal, edited, with the history of earlier runs.
int readTerminal() {
  vesko_host::TerminalLineReader reader("vesko> ", vesko_host::historyFilePath());
  int status = kAllGood;
  std::string line, error;
  while (reader.readLine(&line, &error)) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    status = std::max(status, evaluateLine(line));
  }
  if (!error.empty()) std::fprintf(stderr, "vesko-calc: %s\n", error.c_str());
  std::fputc('\n', stdout);
  return status;
}

int readStandardInput() {
  if (vesko_host::TerminalLineReader::usable()) return readTerminal();
  const bool terminal = isatty(STDIN_FILENO) != 0;
  int status = kAllGood;
  char* buffer = nullptr;
  std::size_t capacity = 0;
  for (;;) {
    if (terminal) {
      std::fputs("vesko> ", stdout);
      std::fflush(stdout);
    }
    const ssize_t read = getline(&buffer, &capacity, stdin);
    if (read < 0) break;
    std::string line(buffer, static_cast<std::size_t>(read));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    status = std::max(status, evaluateLine(line));
  }
  std::free(buffer);
  if (terminal) std::fputc('\n', stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  outputIsTerminal = isatty(STDOUT_FILENO) != 0;
  Options options;
  if (const int stop = readOptions(argc, argv, &options); stop >= 0) return stop;

  const std::string here = programFolder();
  const std::string database =
      !options.database.empty() ? options.database
                                : firstExisting({here + "/sample.sqlite", VESKO_SAMPLE_DATABASE});
  // The sample is shared by every run; only a file named with --db changes.
  const auto access = options.database.empty() ? vesko_host::DatabaseAccess::kReadOnly
                                               : vesko_host::DatabaseAccess::kReadWrite;
  vesko_host::setQueryLimits(options.queryLimits);
  std::string error;
  if (!vesko_host::openDatabase(database, &error, access)) {
    std::fprintf(stderr, "vesko-calc: cannot open the database %s\n", error.c_str());
    return kUsageOrMalformed;
  }

  const std::string pluginPath = !options.plugin.empty()
                                     ? options.plugin
                                     : firstExisting({here + "/libvesko.so", VESKO_DEFAULT_PLUGIN});
  auto plugin = vesko_host::loadPlugin(pluginPath, &error);
  if (!plugin) {
    std::fprintf(stderr, "vesko-calc: cannot load the plug-in: %s\n", error.c_str());
    return kUsageOrMalformed;
  }
  const int64_t enabled = vesko_host::enablePlugin(*plugin);
  if (enabled < 0) {
    std::fprintf(stderr, "vesko-calc: the plug-in refused to start (answer %lld)\n",
                 static_cast<long long>(enabled));
    vesko_host::unloadPlugin(*plugin);
    return kUsageOrMalformed;
  }

  int status = kAllGood;
  if (options.expressions.empty()) {
    status = readStandardInput();
  } else {
    for (const std::string& expression : options.expressions)
      status = std::max(status, evaluateLine(expression));
  }

  vesko_host::shutdownPlugin(*plugin);
  vesko_host::unloadPlugin(*plugin);
  vesko_host::closeDatabase();
  return status;
}
