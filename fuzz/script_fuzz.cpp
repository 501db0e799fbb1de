// Lua scripts built from fragments of what a script can reach inside the
// plug-in (coroutines, metamethods and finalizers, errors of any value,
// protected calls, nested calls of every external function through
// vesko.Evaluate, timestamps, the debug library), run through the real
// plug-in loaded by the substitute host.  Each input gets a fresh
// interpreter.  Promises: nothing crashes, every call answers, the
// interpreter stays usable, and every host object the plug-in made is
// deleted once it is disabled again.
//
// Input: byte 0 picks how the script runs; every further byte picks a
// fragment (its low 7 bits, modulo the table's size) and whether it runs
// inside its own pcall (bit 7).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/plugins/plugin_loader.h"
#include "host/substitute_host.h"

namespace {

using vesko_host::numberValue;
using vesko_host::textValue;
using vesko_host::Value;

struct Fragment {
  const char* text;
};

// New fragments go at the end: corpus inputs name fragments by position.
const Fragment kFragments[] = {
    // Coroutines.
    {"co = coroutine.create(function(...) local a = coroutine.yield(...) return a end)"},
    {"coroutine.resume(co or coroutine.create(print), 1, 'x')"},
    {"local w = coroutine.wrap(function() coroutine.yield(2) error('in wrap') end) w() w()"},
    {"coroutine.yield(1, 'y')"},
    {"coroutine.resume(coroutine.running() or co)"},
    // Metatables and finalizers.
    {"t = setmetatable({}, {__index = function(t, k) return vesko.Evaluate([[Vesko_Version]]) end, "
     "__tostring = function(t) return 'T' .. #t end})"},
    {"local s = tostring(t) .. tostring(t and t.key)"},
    {"local p = newproxy(true) getmetatable(p).__gc = function() "
     "pcall(vesko.Evaluate, [[Vesko_RunScript(\"collectgarbage()\")]]) end p = nil"},
    {"local p = newproxy(true) getmetatable(p).__gc = function() "
     "pcall(vesko.Evaluate, [[Vesko_ResumeFunction(3)]]) end p = nil collectgarbage()"},
    {"local p = newproxy(true) getmetatable(p).__tostring = function() error('no text') end "
     "error(p)"},
    {"setmetatable(_G, {__index = function(g, k) collectgarbage() return rawget(g, k) end})"},
    // The collector.
    {"collectgarbage()"},
    {"collectgarbage('step', 100)"},
    // Errors of any value.
    {"error()"},
    {"error({code = 1})"},
    {"error(co or print)"},
    {"error(vesko.timestamp.new(0))"},
    {"error('text', 2)"},
    // Protected calls.
    {"pcall(error, {})"},
    {"xpcall(function() error(setmetatable({}, {__tostring = function() return 'e' end})) end, "
     "function(e) return tostring(e) end)"},
    {"xpcall(error, debug.traceback)"},
    // Every external function, nested.
    {"vesko.Evaluate([[Vesko_Version(\"long\")]])"},
    {"vesko.Evaluate([[Vesko_LastError(\"full\")]])"},
    {"vesko.Evaluate([[Vesko_RunScript(\"return ...\"; 1; \"a\")]])"},
    {"vesko.Evaluate([[Vesko_RunFile(\"/nonexistent/script.lua\")]])"},
    {"vesko.Evaluate([[Vesko_CallFunction(\"print\"; 1)]])"},
    {"vesko.Evaluate([[Vesko_ResumeFunction(1; \"b\")]])"},
    {"vesko.Evaluate([[Vesko_Timeout(\"tuning\")]])"},
    {"vesko.Evaluate([[Vesko_RunScript(\"error({})\")]])"},
    {"vesko.Evaluate([[Vesko_CallFunction(\"coroutine.yield\"; 5)]])"},
    // Timestamps and the debug library.
    {"ts = vesko.timestamp.new(86400) local v = vesko.timestamp.value(ts)"},
    {"vesko.timestamp.set(ts or vesko.timestamp.new(0), 1)"},
    {"coroutine.yield(ts or vesko.timestamp.new(1))"},
    {"local u = newproxy() debug.setmetatable(u, debug.getregistry()['vesko.timestamp']) ts = u"},
    {"debug.getregistry()['vesko.timestamp'] = 1"},
    {"local r = debug.getregistry() for k, v in pairs(r) do "
     "if type(v) == 'thread' then r[k] = nil end end"},
    {"debug.setmetatable(1, {__index = function() return 0 end})"},
    {"local s = string.rep('x', 1e5) .. tostring(vesko.ScriptTime())"},
    // The caches emptied in the midst of runs, loads and finalizers.
    {"vesko.ClearCache()"},
    {"local s = vesko.Stats() assert(s.nesting_depth >= 1)"},
    {"local p = newproxy(true) getmetatable(p).__gc = function() vesko.ClearCache() end"},
    {"vesko.Evaluate([[Vesko_RunScript(\"vesko.ClearCache() return 1\")]])"},
    // Counts, positions, widths and repetitions for the bundled libraries,
    // with N at the edges of the ranges they read (none so large in range
    // that it only asks for gigabytes).
    {"N = 2^31"},
    {"N = -2^31"},
    {"N = -2^31 + 1"},
    {"N = 2^32 + 1"},
    {"N = 2^53"},
    {"N = -2^53"},
    {"N = 0/0"},
    {"N = 1/0"},
    {"N = -1/0"},
    {"N = -20"},
    {"bit.tohex(1, N or 1)"},
    {"unpack({1, 2, 3}, N, (N or 0) + 2)"},
    {"unpack({}, 0, N)"},
    {"select(N or 1, 1, 2)"},
    {"table.insert({1, 2}, N or 1, 'x')"},
    {"table.remove({1, 2}, N)"},
    {"table.concat({'a'}, ',', N)"},
    {"local s = ('ab'):rep(N or 1) .. string.rep('', N or 1)"},
    {"local s = string.sub('abc', N, N) .. string.char(N or 65) .. string.byte('abc', N)"},
    {"string.find('abc', 'b', N) string.gsub('abc', 'b', 'x', N)"},
    {"debug.traceback('x', N) debug.getinfo(N or 1) debug.getlocal(1, N)"},
    {"lpeg.P(N)"},
    {"local p = lpeg.P'a' ^ (N or 1)"},
    {"local p = lpeg.P'a' * (N or 1) + (N or 1)"},
    {"lpeg.match(lpeg.P'a', 'aaa', N)"},
    {"re.compile(\"'a'^+\" .. tostring(N)) re.compile(\"'a'^-\" .. tostring(N))"},
    {"socket.skip(N or 0, 1, 2)"},
    {"socket.select({{getfd = function() return N end}}, nil, 0)"},
    {"socket.select(nil, {{getfd = function() return N end, dirty = function() return 1 end}}, 0)"},
    {"package.loaded.bit = nil bit = require('bit')"},
    // The chunk cache keeps a text from its second run on, and hands out
    // the same closure while it is not running.
    {"for i = 1, 3 do vesko.Evaluate([[Vesko_RunScript(\"setfenv(1, {}) return 1\")]]) end"},
    {"for i = 1, 3 do vesko.Evaluate([[Vesko_RunScript(\"F = debug.getinfo(1, 'f').func\")]]) "
     "end"},
    {"pcall(coroutine.wrap(F or print), 1)"},
    {"vesko.Evaluate([[Vesko_LastError(\"traceback\")]])"},
    {"pcall(vesko.ExecuteSQL, 'SELECT ?, ?, ?', N, ts, t)"},
    {"os.setlocale('C.UTF-8', 'numeric')"},
    // A script ends the function the host suspended, or the one it runs.
    {"CO = coroutine.running()"},
    {"if CO then pcall(coroutine.resume, CO, N) end"},
    {"local w = coroutine.wrap(function(...) coroutine.yield(...) end) w(N) w() pcall(w)"},
    {"setfenv(1, setmetatable({}, {__index = getfenv(N or 1)}))"},
    // Stopping a run, however deep its stacks and however many tail calls.
    {"local function f(n) if n > 0 then return 1 + f(n - 1) end return f(0) end f(5000)"},
    {"local function f(n) if n == 0 then while true do end end return select(2, "
     "xpcall(function() return f(n - 1) end, function(e) while true do end end)) end f(40)"},
    {"local w = coroutine.wrap(function() local function f(n) if n > 0 then return 1 + f(n - 1) "
     "end error('deep') end f(3000) end) pcall(w)"},
    // Recursion in C: patterns, LPeg trees, callbacks and nested calls.
    {"string.find('', string.rep('x*', 3e5))"},
    {"string.gsub('x', string.rep('(x?)', 20) .. string.rep('[%a]-', 3e5), '%1')"},
    {"for w in string.gmatch('ab', string.rep('.?', 3e5)) do end"},
    {"lpeg.match(lpeg.P'a' ^ -1e6, 'aaa')"},
    {"re.match('aaa', '\"a\"^-1000000')"},
    {"lpeg.setmaxstack(N or 400)"},
    {"local function g() return (string.gsub('a', 'a', g)) end g()"},
    {"function deepcall(n) if n > 0 then return vesko.Evaluate("
     "'Vesko_CallFunction(\"deepcall\"; ' .. (n - 1) .. ')') end "
     "return (string.gsub('a', 'a', function() return deepcall(0) end)) end deepcall(20)"},
    // Long loops inside one C call.
    {"local s = base64.decode(base64.encode(string.rep('x', 1e6))) "
     "s = ascii85.decode(ascii85.encode(s))"},
    {"pcall(vesko.ExecuteSQL, 'WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
     "FROM n WHERE x < 100000) SELECT printf(\"%050d\", x) FROM n')"},
    // Finalizers that allocate after a memory error, under a small ceiling.
    {"vesko.MemoryLimit(8e6)"},
    {"local u = newproxy(true) getmetatable(u).__gc = function(u) big = string.rep('x', 1e7) "
     "kept = u end"},
    {"collectgarbage('stop') local t = {} for i = 1, 2e6 do t[i] = {} end"},
    {"error(string.rep('\\195\\169', 4e4) .. tostring(N))"},
    // The debug library against the libraries' own objects.
    {"debug.setfenv(io.write, {}) io.write('')"},
    {"debug.setmetatable(newproxy(), getmetatable(lpeg.P(N or 1)))"},
    {"debug.setmetatable(newproxy(), {['tcp{any}'] = true})"},
    {"debug.setupvalue(coroutine.wrap(print), 1, N) debug.getfenv(io.stdout)"},
    {"table.sort({3, 2, 1}, function(a, b) debug.setlocal(2, N or 1, N) return a < b end)"},
    {"package.loadlib('liblua5.1-c++.so.0', 'luaopen_base')()"},
    {"require('cjson').encode({string.rep('x', (N or 1) % 1e6), [N or 1] = N})"},
    {"string.nextutf8(string.rep('\\0a', 3), N or 1)"},
};
constexpr std::size_t kFragmentCount = std::size(kFragments);
constexpr std::size_t kMaxFragments = 24;

void require(bool holds, const std::string& message) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", message.c_str());
  std::abort();
}

vesko_host::LoadedPlugin& plugin() {
  static vesko_host::LoadedPlugin* loaded = [] {
    std::string error;
    auto found = vesko_host::loadPlugin(VESKO_PLUGIN_PATH, &error);
    require(found.has_value(), "the plug-in loads: " + error);
    return new vesko_host::LoadedPlugin(std::move(*found));
  }();
  return *loaded;
}

// Calls `name`; every answer is 0 or -1.  Answers the result's text form,
// or "?" for a failure.
std::string call(const std::string& name, const std::vector<Value>& arguments) {
  Value result;
  const int16_t answer = vesko_host::callExternal(name, arguments, &result);
  require(answer == 0 || answer == -1, name + " answered " + std::to_string(answer));
  return answer == 0 ? vesko_host::textForm(result) : "?";
}

std::string buildScript(const std::uint8_t* data, std::size_t size) {
  std::string script;
  std::size_t used = 0;
  for (std::size_t i = 1; i < size && used < kMaxFragments; ++i) {
    const Fragment& fragment = kFragments[(data[i] & 0x7F) % kFragmentCount];
    ++used;
    if ((data[i] & 0x80) != 0) {
      script += "pcall(function() " + std::string(fragment.text) + " end)\n";
    } else {
      script += std::string(fragment.text) + "\n";
    }
  }
  return script;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::size_t idleObjects = [] {
    plugin();
    return vesko_host::livePluginObjects().total();
  }();
  if (size == 0) return 0;

  require(vesko_host::enablePlugin(plugin()) == 53, "the plug-in enables");
  // A fragment may loop; the time limit keeps each input short.
  call("Vesko_Timeout", {numberValue(1)});
  const std::string script = buildScript(data, size);
  switch (data[0] % 3) {
    case 0:
      call("Vesko_RunScript", {textValue(script), numberValue(1), textValue("a")});
      break;
    case 1:
      call("Vesko_RunScript", {textValue("function fuzzed(...)\n" + script + "end")});
      call("Vesko_CallFunction", {textValue("fuzzed"), numberValue(2)});
      for (int i = 0; i < 3; ++i) call("Vesko_ResumeFunction", {textValue("r")});
      break;
    case 2:
      call("Vesko_RunScript", {textValue("function fuzzed(...)\n" + script + "end")});
      call("Vesko_RunScript",
           {textValue("return vesko.Evaluate([[Vesko_CallFunction(\"fuzzed\")]])")});
      call("Vesko_ResumeFunction", {});
      break;
  }
  call("Vesko_LastError", {textValue("full")});
  require(call("Vesko_RunScript", {textValue("return 1")}) == "1", "the interpreter lives on");

  vesko_host::shutdownPlugin(plugin());
  require(vesko_host::livePluginObjects().total() == idleObjects,
          "every host object is deleted: " + vesko_host::livePluginObjects().describe());
  const std::vector<std::string> violations = vesko_host::takeViolations();
  require(violations.empty(), violations.empty() ? "" : violations.front());
  return 0;
}
