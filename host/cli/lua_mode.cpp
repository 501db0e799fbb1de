#include "host/cli/lua_mode.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "host/cli/calc_options.h"
#include "host/objects/host_errors.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

// Both scripts are fixed texts, so the plug-in compiles each once and
// keeps it; what changes comes in as arguments, never as code.
constexpr char kRunChunk[] = R"lua(-- vesko-calc: a chunk of its Lua mode
local source, printHere, final = ...
local tries = { "return " .. source, source }
if source:sub(1, 1) == "=" then tries = { "return " .. source:sub(2) } end
local chunk, message, incomplete
for _, text in ipairs(tries) do
  chunk, message = loadstring(text, "=stdin")
  if chunk then break end
  incomplete = incomplete or message:sub(-7) == "'<eof>'"
end
if not chunk then
  if incomplete and final == 0 then return true end
  error(message, 0)
end
local function shown(...)
  local count = select("#", ...)
  if count == 0 then return end
  if printHere ~= 0 then print(...) return end
  local texts = {}
  for i = 1, count do texts[i] = tostring((select(i, ...))) end
  return (table.concat(texts, "\t"))
end
return shown(chunk())
)lua";

constexpr char kRunChunkName[] = "[string \"-- vesko-calc: a chunk of its Lua mode...\"]";

constexpr char kNames[] = R"lua(-- vesko-calc: what Tab offers in its Lua mode
local word = ...
local path, last = word:match("^(.-)([%w_]*)$")
local t = getfenv(0)
for name, separator in path:gmatch("([%a_][%w_]*)([.:])") do
  if type(t) ~= "table" then return "" end
  t = rawget(t, name)
  if separator == ":" and type(t) == "string" then
    local meta = getmetatable("")
    t = type(meta) == "table" and rawget(meta, "__index")
  end
end
if type(t) ~= "table" or path:gsub("[%a_][%w_]*[.:]", "") ~= "" then return "" end
local names = {}
for key in next, t do
  if type(key) == "string" and key:sub(1, #last) == last and key:match("^[%a_][%w_]*$") then
    names[#names + 1] = path .. key
    if #names >= 1000 then break end
  end
end
table.sort(names)
return table.concat(names, "\n")
)lua";

bool lastError(int* code, std::string* message, std::string* traceback) {
  Value number, text, callsValue;
  if (callExternal("Vesko_LastError", {textValue("number")}, &number) != kHostErrorNone ||
      callExternal("Vesko_LastError", {textValue("message")}, &text) != kHostErrorNone)
    return false;
  *code = std::atoi(textForm(number).c_str());
  *message = textForm(text);
  if (callExternal("Vesko_LastError", {textValue("traceback")}, &callsValue) != kHostErrorNone)
    return true;
  // The frame of the script that ran the chunk is the shell's, not the
  // user's.
  const std::string calls = textForm(callsValue);
  for (std::size_t start = 0; start < calls.size();) {
    std::size_t end = calls.find('\n', start);
    if (end == std::string::npos) end = calls.size();
    const std::string line = calls.substr(start, end - start);
    if (line.find(kRunChunkName) == std::string::npos)
      *traceback += (traceback->empty() ? "" : "\n") + line;
    start = end + 1;
  }
  return true;
}

}  // namespace

LuaOutcome runLuaChunk(const std::string& source, bool printHere, bool final) {
  LuaOutcome outcome;
  Value result;
  const int16_t error = callExternal(
      "Vesko_RunScript",
      {textValue(kRunChunk), textValue(source), numberValue(printHere), numberValue(final)},
      &result);
  if (error == kHostErrorNone) {
    outcome.succeeded = true;
    outcome.incomplete = result.kind == FM_KIND_NUMBER;
    outcome.hasValues = result.kind == FM_KIND_TEXT;
    outcome.values = result.text;
    return outcome;
  }
  if (!lastError(&outcome.error, &outcome.message, &outcome.traceback) || outcome.error == 0) {
    outcome.error = error;
    outcome.message = "Vesko_RunScript failed (host error " + std::to_string(error) + ")";
  }
  return outcome;
}

int printLuaOutcome(const LuaOutcome& outcome, OutputStyle style, bool traceback) {
  if (style == OutputStyle::json) {
    CalcOutcome shown;
    shown.succeeded = outcome.succeeded;
    shown.text = outcome.values;
    shown.error = outcome.error;
    shown.message = outcome.message;
    printLine(outcome.succeeded && !outcome.hasValues ? "{\"result\":null}" : jsonObject(shown));
  } else if (outcome.succeeded) {
    if (outcome.hasValues) printLine(outcome.values);
  } else {
    std::string text = outcome.message;
    if (traceback && !outcome.traceback.empty()) text += "\n" + outcome.traceback;
    if (style == OutputStyle::terminal)
      printLine(text);
    else
      std::fprintf(stderr, "vesko-calc: %s\n", text.c_str());
  }
  std::fflush(stdout);
  return outcome.succeeded ? kAllGood : kSomeFailed;
}

std::vector<std::string> luaNamesStartingWith(std::string_view word) {
  Value result;
  if (callExternal("Vesko_RunScript", {textValue(kNames), textValue(word)}, &result) !=
          kHostErrorNone ||
      result.kind != FM_KIND_TEXT)
    return {};
  std::vector<std::string> names;
  for (std::size_t start = 0; start < result.text.size();) {
    std::size_t end = result.text.find('\n', start);
    if (end == std::string::npos) end = result.text.size();
    names.push_back(result.text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

int evaluateLuaLines(std::FILE* in, OutputStyle style) {
  int status = kAllGood;
  char* buffer = nullptr;
  std::size_t capacity = 0;
  ssize_t length = 0;
  std::string chunk;
  bool pending = false;
  while (!outputFailed() && (length = getline(&buffer, &capacity, in)) >= 0) {
    std::string line(buffer, static_cast<std::size_t>(length));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!pending && line.find_first_not_of(" \t") == std::string::npos) continue;
    chunk = pending ? chunk + "\n" + line : line;
    const LuaOutcome outcome = runLuaChunk(chunk, style != OutputStyle::json, false);
    pending = outcome.incomplete;
    if (!pending) status = std::max(status, printLuaOutcome(outcome, style, false));
  }
  if (pending && !outputFailed())
    status = std::max(status, printLuaOutcome(runLuaChunk(chunk, style != OutputStyle::json, true),
                                              style, false));
  std::free(buffer);
  return status;
}

}  // namespace vesko_host
