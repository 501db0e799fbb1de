#include "host/cli/calc_shell.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>

#include "host/calc/calc_lexer.h"
#include "host/cli/calc_options.h"
#include "host/cli/line_editor_history.h"
#include "host/cli/line_editor_terminal.h"
#include "host/objects/host_errors.h"
#include "host/plugins/function_registry.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

constexpr char kPrompt[] = "vesko> ";
constexpr char kContinuationPrompt[] = "  ...> ";

const char kShellHelp[] = R"(Type a calculation and Enter; its result shows below it, or "? code:
message" when it fails. A calculation with an open text constant, comment or
parenthesis goes on at the "...>" prompt. Tab completes a function's name.

  .help        this text
  .functions   the functions a calculation can call
  .stats       the interpreter's figures (vesko.Stats()): caches, memory, calls
  .quit        leave (also .exit, or Ctrl-D on an empty line)

Ctrl-C clears the line; while a calculation runs it is noted and ends
nothing: the plug-in's time limit (Vesko_Timeout) stops a script that runs
too long. vesko-calc --help describes the calculation language.
)";

// Ctrl-C while a calculation runs. The calculation cannot be stopped from
// outside the plug-in: the handler only notes it, so neither the session
// nor the interpreter (with everything scripts defined) is lost.
volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int) {
  g_interrupted = 1;
}

class InterruptNoted {
 public:
  InterruptNoted() {
    g_interrupted = 0;
    struct sigaction noted {};
    noted.sa_handler = onInterrupt;
    noted.sa_flags = SA_RESTART;
    sigemptyset(&noted.sa_mask);
    sigaction(SIGINT, &noted, &previous_);
  }
  ~InterruptNoted() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptNoted(const InterruptNoted&) = delete;
  InterruptNoted& operator=(const InterruptNoted&) = delete;

  static bool happened() { return g_interrupted != 0; }

 private:
  struct sigaction previous_ {};
};

// Lines from the terminal: edited when it can, else plain lines after a
// prompt (a terminal that cannot edit, TERM=dumb).
class ShellInput {
 public:
  ShellInput() {
    if (!TerminalLineReader::usable()) return;
    editing_.emplace(kPrompt, historyFilePath());
    editing_->setCompleter(functionNamesStartingWith);
  }

  bool read(const char* prompt, std::string* line) {
    if (editing_) {
      editing_->setPrompt(prompt);
      std::string error;
      if (editing_->readLine(line, &error)) return true;
      if (!error.empty()) std::fprintf(stderr, "vesko-calc: %s\n", error.c_str());
      return false;
    }
    std::cout << prompt << std::flush;
    if (!std::getline(std::cin, *line)) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  }

 private:
  std::optional<TerminalLineReader> editing_;
};

void listFunctions() {
  for (const ExternalFunction& function : registeredFunctions())
    std::cout << "  " << (function.prototype.empty() ? function.name : function.prototype) << '\n';
  std::cout << "  built-in:";
  for (const std::string& name : functionNamesStartingWith(""))
    if (!isRegistered(name)) std::cout << ' ' << name;
  std::cout << '\n';
}

// vesko.Stats() as "name value" lines, nested names joined by ".".  Run by
// Vesko_RunScript, which leaves a suspended function as it is; the run
// counts among the calls it shows.
constexpr char kStatsScript[] =
    "local lines = {} "
    "local function add(prefix, t) local names = {} for k in pairs(t) do names[#names + 1] = k end "
    "table.sort(names) for _, k in ipairs(names) do local v = t[k] if type(v) == 'table' then "
    "add(prefix .. k .. '.', v) else lines[#lines + 1] = prefix .. k .. ' ' .. "
    "string.format('%.0f', v) end end end "
    "add('', vesko.Stats()) return table.concat(lines, '\\n')";

void showStats() {
  Value figures;
  if (!isRegistered("Vesko_RunScript") ||
      callExternal("Vesko_RunScript", {textValue(kStatsScript)}, &figures) != kHostErrorNone) {
    std::cout << "no figures: the plug-in does not answer\n";
    return;
  }
  std::cout << textForm(figures) << '\n';
}

// A line that starts with "." and a letter; "." and a digit is a number.
bool isShellCommand(const std::string& line) {
  return line.size() > 1 && line[0] == '.' &&
         ((line[1] >= 'a' && line[1] <= 'z') || (line[1] >= 'A' && line[1] <= 'Z'));
}

// Answers false for .quit and .exit.
bool runShellCommand(const std::string& line) {
  const std::string command = line.substr(0, line.find_first_of(" \t"));
  if (command == ".quit" || command == ".exit") return false;
  if (command == ".help")
    std::cout << kShellHelp;
  else if (command == ".functions")
    listFunctions();
  else if (command == ".stats")
    showStats();
  else
    std::cout << "unknown command " << command << "; .help lists them\n";
  std::cout << std::flush;
  return true;
}

std::string banner() {
  std::string text = "vesko-calc " VESKO_VERSION;
  Value version;
  if (isRegistered("Vesko_Version") &&
      callExternal("Vesko_Version", {textValue("long")}, &version) == kHostErrorNone)
    text += " with " + textForm(version);
  return text + ". Type a calculation, or .help for help.\n";
}

}  // namespace

bool continuesOnNextLine(std::string_view calculation) {
  std::vector<Token> tokens;
  CalcError error;
  if (!tokenize(calculation, &tokens, &error))
    return error.error == kHostErrorUnendedText || error.error == kHostErrorUnendedComment;
  int open = 0;
  for (const Token& token : tokens) {
    if (token.type == TokenType::leftParen) ++open;
    if (token.type == TokenType::rightParen) --open;
  }
  return open > 0;
}

int runShell(OutputStyle style) {
  if (isatty(STDOUT_FILENO) != 0) std::cout << banner() << std::flush;
  ShellInput input;
  int status = kAllGood;
  std::string line;
  while (input.read(kPrompt, &line)) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (isShellCommand(line)) {
      if (!runShellCommand(line)) return status;
      continue;
    }
    std::string calculation = line;
    while (continuesOnNextLine(calculation) && input.read(kContinuationPrompt, &line))
      calculation += "\n" + line;
    InterruptNoted interrupts;
    status = std::max(status, printOutcome(calculation, calculate(calculation), style));
    if (InterruptNoted::happened())
      std::cerr << "vesko-calc: Ctrl-C does not stop a calculation; it ran to its end\n";
  }
  std::cout << '\n';
  return status;
}

}  // namespace vesko_host
