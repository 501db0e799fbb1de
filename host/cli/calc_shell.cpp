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
#include "host/cli/lua_mode.h"
#include "host/objects/host_errors.h"
#include "host/plugins/function_registry.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

constexpr char kPrompt[] = "vesko> ";
constexpr char kContinuationPrompt[] = "  ...> ";
constexpr char kLuaPrompt[] = "lua> ";
constexpr char kLuaContinuationPrompt[] = "  >> ";

const char kShellHelp[] = R"(Type a calculation and Enter; its result shows below it, or "? code:
message" when it fails. A calculation with an open text constant, comment or
parenthesis goes on at the "...>" prompt. Tab completes a function's name.

In the Lua mode (.lua) each line is a Lua chunk, run by Vesko_RunScript on
the interpreter the calculations use: "=expr" and a bare expression show
their values, as lua5.1 does; a chunk cut short goes on at the ">>" prompt;
an error shows its message (.traceback shows where it came from). Tab
completes global names and fields: "string.fo", "vesko.".

  .lua             the Lua mode
  .calc            back to calculations
  .traceback       the Lua call chain of the last error
  .traceback on    show it with every error (off: only on request)
  .mode json|text  results as JSON objects, or as text (now: .mode)
  .help            this text
  .functions       the functions a calculation can call
  .stats           the interpreter's figures (vesko.Stats()): caches, memory, calls
  .quit            leave (also .exit, or Ctrl-D on an empty line)

Keys: Up/Down for earlier entries (a calculation or chunk of several lines
is one entry), Ctrl-R searches them (Ctrl-R again: an older match, Ctrl-G:
give up). Ctrl-C clears the line; while a calculation runs it is noted and
ends nothing: the plug-in's time limit (Vesko_Timeout) stops a script that
runs too long. vesko-calc --help describes the calculation language.
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

  void keep(const std::string& entry) {
    if (editing_) editing_->keep(entry);
  }

  void completeLua(bool lua) {
    if (!editing_) return;
    if (lua)
      editing_->setCompleter(luaNamesStartingWith, ".:");
    else
      editing_->setCompleter(functionNamesStartingWith);
  }

  // Whether the last mode command in the history is .lua.
  bool lastModeWasLua() const {
    if (!editing_) return false;
    const std::vector<std::string>& history = editing_->history();
    for (auto entry = history.rbegin(); entry != history.rend(); ++entry)
      if (*entry == ".lua" || *entry == ".calc") return *entry == ".lua";
    return false;
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

struct ShellState {
  bool lua = false;
  bool traceback = false;  // with every Lua error
  OutputStyle style = OutputStyle::terminal;
  std::string lastTraceback;  // of the last failed chunk
};

// The word after the command, or "".
std::string argumentOf(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t", line.find_first_of(" \t"));
  if (start == std::string::npos) return "";
  return line.substr(start, line.find_last_not_of(" \t") + 1 - start);
}

// Answers false for .quit and .exit.
bool runShellCommand(const std::string& line, ShellState* state, ShellInput* input) {
  const std::string command = line.substr(0, line.find_first_of(" \t"));
  const std::string argument = argumentOf(line);
  if (command == ".quit" || command == ".exit") return false;
  if (command == ".help") {
    std::cout << kShellHelp;
  } else if (command == ".functions") {
    listFunctions();
  } else if (command == ".stats") {
    showStats();
  } else if (command == ".lua" || command == ".calc") {
    state->lua = command == ".lua";
    input->completeLua(state->lua);
  } else if (command == ".traceback" && (argument == "on" || argument == "off")) {
    state->traceback = argument == "on";
  } else if (command == ".traceback" && argument.empty()) {
    std::cout << (state->lastTraceback.empty() ? "no Lua error so far" : state->lastTraceback)
              << '\n';
  } else if (command == ".mode" && (argument == "json" || argument == "text")) {
    state->style = argument == "json" ? OutputStyle::json : OutputStyle::terminal;
  } else if (command == ".mode" && argument.empty()) {
    std::cout << (state->style == OutputStyle::json ? "json" : "text") << '\n';
  } else if (command == ".traceback" || command == ".mode") {
    std::cout << "usage: " << (command == ".mode" ? ".mode json|text" : ".traceback [on|off]")
              << '\n';
  } else {
    std::cout << "unknown command " << command << "; .help lists them\n";
  }
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

namespace {

// Reads the rest of one calculation, or of one Lua chunk, runs it and
// shows its outcome; answers its exit status.
int runEntry(std::string line, ShellState* state, ShellInput* input) {
  InterruptNoted interrupts;
  std::string entry = line;
  int status = kAllGood;
  if (state->lua) {
    LuaOutcome outcome;
    bool more = true;
    while ((outcome = runLuaChunk(entry, state->style != OutputStyle::json, !more)).incomplete) {
      more = input->read(kLuaContinuationPrompt, &line);
      if (more) entry += "\n" + line;
    }
    if (!outcome.succeeded) state->lastTraceback = outcome.traceback;
    status = printLuaOutcome(outcome, state->style, state->traceback);
  } else {
    while (continuesOnNextLine(entry) && input->read(kContinuationPrompt, &line))
      entry += "\n" + line;
    status = printOutcome(entry, calculate(entry), state->style);
  }
  input->keep(entry);
  if (InterruptNoted::happened())
    std::cerr << "vesko-calc: Ctrl-C does not stop a calculation; it ran to its end\n";
  return status;
}

}  // namespace

int runShell(OutputStyle style, bool lua) {
  if (isatty(STDOUT_FILENO) != 0) std::cout << banner() << std::flush;
  ShellInput input;
  ShellState state;
  state.style = style;
  state.lua = lua || input.lastModeWasLua();
  input.completeLua(state.lua);
  if (state.lua && !lua)
    std::cout << "Lua mode, as last time (.calc for calculations)\n" << std::flush;
  int status = kAllGood;
  std::string line;
  while (!outputFailed() && input.read(state.lua ? kLuaPrompt : kPrompt, &line)) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (isShellCommand(line)) {
      input.keep(line);
      if (!runShellCommand(line, &state, &input)) return status;
      continue;
    }
    status = std::max(status, runEntry(line, &state, &input));
  }
  std::cout << '\n';
  return status;
}

}  // namespace vesko_host
