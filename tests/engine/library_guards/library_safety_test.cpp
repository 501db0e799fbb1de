// The standard and bundled libraries against scripts that turn one of them
// on another: the debug library, package.loadlib, broken pipes, and text
// functions on long texts.
#include <signal.h>

#include <string>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using LibrarySafetyTest = PluginTest;

TEST_F(LibrarySafetyTest, DebugCannotChangeWhatLibrariesKeep) {
  ASSERT_EQ(run("pattern = lpeg.P'a' "
                "function proxy() return newproxy(true) end "
                "tcp = socket.tcp() return 1"),
            "1");
  struct Case {
    const char* script;
    const char* message;
  };
  const Case refused[] = {
      {"debug.setfenv(io.write, {}) io.write('x')",
       "cannot change the environment of a C function"},
      {"debug.setfenv(string.rep, {})", "cannot change the environment of a C function"},
      {"debug.setfenv(print, {})", "cannot change the environment of a C function"},
      {"local f = io.tmpfile() debug.setfenv(f, {}) f:close()",
       "cannot change the environment of a library's userdata"},
      {"debug.setfenv(io.stdout, {})", "cannot change the environment of a library's userdata"},
      {"debug.setfenv(pattern, {}) return pattern:match('a')",
       "cannot change the environment of a library's userdata"},
      {"debug.setfenv(tcp, {})", "cannot change the environment of a library's userdata"},
      {"debug.setfenv(vesko.timestamp.new(1), {})",
       "cannot change the environment of a library's userdata"},
      {"debug.setmetatable(proxy(), getmetatable(pattern))",
       "cannot give a userdata a library's metatable"},
      {"debug.setmetatable(proxy(), getmetatable(io.stdout))",
       "cannot give a userdata a library's metatable"},
      {"debug.setmetatable(proxy(), getmetatable(tcp))",
       "cannot give a userdata a library's metatable"},
      {"debug.setmetatable(io.stdout, getmetatable(pattern))",
       "cannot give a userdata a library's metatable"},
      {"debug.setmetatable(pattern, getmetatable(tcp))",
       "cannot give a userdata a library's metatable"},
      {"debug.setmetatable(vesko.timestamp.new(1), getmetatable(select(2, lfs.dir('.'))))",
       "cannot give a userdata a library's metatable"},
      // LuaSocket knows its objects by the names in their metatable.
      {"debug.setmetatable(io.stdout, {['tcp{any}'] = true})",
       "cannot give a userdata a library's metatable"},
      // A library's metatable is known even after the registry forgets it.
      {"local r = debug.getregistry() local mt = r['FILE*'] r['FILE*'] = nil "
       "local ok, e = pcall(debug.setmetatable, proxy(), mt) r['FILE*'] = mt error(e, 0)",
       "cannot give a userdata a library's metatable"},
      {"debug.setupvalue(coroutine.wrap(proxy), 1, 'x')",
       "cannot change the upvalues of a C function"},
      {"debug.setupvalue(ipairs({}), 1, 'x')", "cannot change the upvalues of a C function"},
      {"local t = {3, 2, 1} table.sort(t, function(a, b) debug.setlocal(2, 1, 5) return a < b end)",
       "cannot change the locals of a C function"},
      {"string.gsub('ab', '%w', function() debug.setlocal(2, 1, {}) end)",
       "cannot change the locals of a C function"},
      {"local co = coroutine.create(function() coroutine.yield() end) coroutine.resume(co) "
       "debug.setlocal(co, 0, 1, 5)",
       "cannot change the locals of a C function"},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(run(c.script), "?") << c.script;
    const std::string message = lastError("message");
    EXPECT_NE(message.find(c.message), std::string::npos) << c.script << ": " << message;
    EXPECT_EQ(lastError("number"), "3020") << c.script;
  }
  // What scripts make stays theirs to change; the libraries still work.
  EXPECT_EQ(run("local env = {} local function f() return x end debug.setfenv(f, {x = 7}) "
                "local p = proxy() debug.setfenv(p, env) assert(debug.getfenv(p) == env) "
                "local co = coroutine.create(proxy) debug.setfenv(co, env) "
                "debug.setmetatable(p, {__index = {}}) "
                "debug.setmetatable(io.stdout, getmetatable(io.stdout)) "
                "local n = 1 local function g() return n end debug.setupvalue(g, 1, 5) "
                "local m = 1 debug.setlocal(1, 1, {}) "
                "return f() + g()"),
            "12");
  EXPECT_EQ(run("return tostring(debug.getfenv(io.write)) .. tostring(debug.getfenv(io.stdout)) "
                ".. tostring(debug.getfenv(pattern))"),
            "nilnilnil");
  // Nothing a C function keeps is handed out: the safe JSON encoder keeps
  // the unbounded one there.
  EXPECT_EQ(run("local q = 1 return select('#', debug.getupvalue(coroutine.wrap(proxy), 1)) + "
                "select('#', debug.getupvalue(require('cjson.safe').encode, 1)) + "
                "select('#', debug.getupvalue(function() return q end, 1))"),
            "2");
  EXPECT_EQ(run("io.write('') local f = io.tmpfile() f:write('x') f:close() "
                "return pattern:match('a') .. type(tcp:getfd())"),
            "2number");
}

TEST_F(LibrarySafetyTest, SocketMethodsRunOnSocketsOnly) {
  // LuaSocket knows its objects by names any table can carry; no debug
  // library is needed to make one.
  ASSERT_EQ(run("tcp = socket.tcp() udp = socket.udp() "
                "fake = newproxy(true) local mt = getmetatable(fake) "
                "mt['tcp{any}'] = true mt['udp{any}'] = true mt['select{able}'] = true "
                "mt['tcp{client}'] = true "
                "function refused(f, ...) local ok, e = pcall(f, ...) "
                "  return not ok and e:match('%(socket expected, got [%a ]+%)') end "
                "return 1"),
            "1");
  // A method, then its arguments.
  const char* refused[] = {
      "getmetatable(tcp).__index.getfd, fake",
      "getmetatable(tcp).__index.setfd, fake, 3",
      "getmetatable(tcp).__index.close, io.stdout",
      "getmetatable(tcp).__gc, fake",
      "getmetatable(tcp).__tostring, fake",
      "getmetatable(udp).__index.sendto, fake, 'x', '127.0.0.1', 9",
      "getmetatable(udp).__index.getfd, lpeg.P(1)",
      "getmetatable(tcp).__index.getfd",
  };
  for (const char* call : refused) {
    EXPECT_EQ(run(std::string("return refused(") + call + ") and 'refused'"), "refused") << call;
  }
  // A LuaSocket core opened again has its methods wrapped as well.
  EXPECT_EQ(run("local path = '/usr/lib/x86_64-linux-gnu/lua/5.1/socket/core.so' "
                "local core = package.loadlib(path, 'luaopen_socket_core')() "
                "return refused(getmetatable(core.tcp()).__index.getfd, fake) or 'no'"),
            "(socket expected, got userdata)");
  EXPECT_EQ(run("return type(tcp:getfd()) .. tostring(tcp):match('^tcp{master}') .. "
                "tostring(udp:setsockname('127.0.0.1', 0))"),
            "numbertcp{master}1");
}

TEST_F(LibrarySafetyTest, TheInterpretersOpenersAreNotOpenedAgain) {
  for (const char* opener : {"luaopen_base", "luaopen_string", "luaopen_table", "luaopen_debug",
                             "luaopen_package", "luaL_openlibs"}) {
    const std::string script = std::string("local f = package.loadlib('liblua5.1-c++.so.0', '") +
                               opener + "') return type(f) .. select(2, pcall(f))";
    EXPECT_EQ(run(script),
              "function" + std::string("the interpreter's own libraries are open already"))
        << opener;
  }
  // The bounded functions stay bounded.
  EXPECT_EQ(run("return select(2, pcall(unpack, {}, 1, 2^31))"),
            "bad argument #3 to '?' (out of range)");
  EXPECT_EQ(run("return select(2, pcall(string.rep, 'x', 2^31))"),
            "bad argument #2 to '?' (out of range)");
}

TEST_F(LibrarySafetyTest, WritingToABrokenPipeFailsTheWriteAlone) {
  // The host's disposition is the default one, which ends the process.
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &before), 0);
  EXPECT_EQ(before.sa_handler, SIG_DFL);
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  struct sigaction after {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, SIG_DFL);
  // A package.loadlib of LuaSocket's core opens it again; the disposition
  // stays the host's.
  EXPECT_EQ(run("local path = package.searchpath and package.searchpath('socket.core', "
                "package.cpath) or '/usr/lib/x86_64-linux-gnu/lua/5.1/socket/core.so' "
                "local open = package.loadlib(path, 'luaopen_socket_core') "
                "return type(open and open())"),
            "table");
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, SIG_DFL);

  EXPECT_EQ(run("local p = io.popen('true', 'w') "
                "local ok for i = 1, 64 do ok = p:write(string.rep('x', 65536)) and p:flush() "
                "if not ok then break end end p:close() return tostring(ok)"),
            "nil");
  EXPECT_EQ(run("local server = assert(socket.bind('127.0.0.1', 0)) "
                "local _, port = server:getsockname() "
                "local client = assert(socket.connect('127.0.0.1', port)) "
                "server:accept():close() server:close() "
                "local ok, e for i = 1, 64 do ok, e = client:send(string.rep('x', 65536)) "
                "if not ok then break end socket.sleep(0.01) end client:close() return e"),
            "closed");
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST_F(LibrarySafetyTest, IteratingALongTextTakesEachCharacterOnce) {
  // Four million bytes, a million characters: each step used to measure
  // the whole text again, far beyond any time limit.  Slow under valgrind:
  // more time than the default limit.
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(60)}), "60");
  EXPECT_EQ(run("local s = string.rep('a\\195\\169\\240\\159\\152\\128', 571429) "
                "local n = 0 for c in s:utf8characters() do n = n + #c end return n .. ' ' .. #s"),
            "4000003 4000003");
  // A NUL ends the text for the iteration, as before.
  EXPECT_EQ(run("local t = {} for c in ('ab\\0cd'):utf8characters() do t[#t + 1] = c end "
                "return table.concat(t, ',')"),
            "a,b");
}

}  // namespace
}  // namespace vesko_test
