#include "library/library_set.h"

#include <string>

#include <lua.hpp>

#include "engine/embedded_scripts.h"
#include "engine/library_guards/debug_library.h"
#include "engine/library_guards/socket_objects.h"
#include "engine/library_guards/wrapped_functions.h"
#include "engine/process_locale.h"
#include "engine/time_limit.h"
#include "library/ascii85.h"
#include "library/base64.h"
#include "library/pack.h"
#include "library/timestamp.h"
#include "library/utf8_strings.h"
#include "library/vesko_library.h"

extern "C" {
int luaopen_lfs(lua_State* L);
int luaopen_bit(lua_State* L);
int luaopen_lpeg(lua_State* L);
int luaopen_socket_core(lua_State* L);
int luaopen_mime_core(lua_State* L);
}

namespace vesko {

namespace {

// LuaSocket's cores return their table and register nothing.  Scripts use
// them as the globals socket and mime, and LuaSocket's own Lua modules
// require them as socket.core and mime.core.
void registerCore(lua_State* L, lua_CFunction open, const char* name, const char* coreName) {
  lua_pushcfunction(L, open);
  lua_pushstring(L, coreName);
  lua_call(L, 1, 1);
  lua_getglobal(L, "package");
  lua_getfield(L, -1, "loaded");
  lua_pushvalue(L, -3);
  lua_setfield(L, -2, coreName);
  lua_pushvalue(L, -3);
  lua_setfield(L, -2, name);
  lua_pop(L, 2);
  lua_setglobal(L, name);
}
int openSocketCore(lua_State* L) {
  registerCore(L, luaopen_socket_core, "socket", "socket.core");
  return 0;
}
int openMimeCore(lua_State* L) {
  registerCore(L, luaopen_mime_core, "mime", "mime.core");
  return 0;
}

struct Opener {
  const char* name;
  lua_CFunction open;
};

// Opened before the start-up scripts and re, which take copies of their
// functions.
constexpr Opener kFirstSet[] = {
    {"", luaopen_base},          {"package", luaopen_package}, {"table", luaopen_table},
    {"io", luaopen_io},          {"os", luaopen_os},           {"string", luaopen_string},
    {"math", luaopen_math},      {"debug", luaopen_debug},     {"lfs", luaopen_lfs},
    {"bit", luaopen_bit},        {"lpeg", luaopen_lpeg},       {"luautf8", openUtf8Strings},
    {"vesko", openVeskoLibrary},
};

// Opened after them.
constexpr Opener kSecondSet[] = {
    {"pack", openPack},     {"base64", openBase64},     {"ascii85", openAscii85},
    {"mime", openMimeCore}, {"socket", openSocketCore},
};

// Calls each opener as a Lua function with its name as the one argument.
template <std::size_t N>
void openLibraries(lua_State* L, const Opener (&set)[N]) {
  for (const Opener& opener : set) {
    lua_pushcfunction(L, opener.open);
    lua_pushstring(L, opener.name);
    lua_call(L, 1, 0);
  }
}

// Runs a start-up chunk.  Whether it loads or runs is not examined: a chunk
// that fails leaves its error value and start-up goes on without what it
// would have defined.
void runChunk(lua_State* L, const char* text) {
  if (luaL_loadstring(L, text) == 0) lua_pcall(L, 0, LUA_MULTRET, 0);
}

// [-(n), +r, e] Calls upvalue 1 with every argument and answers all its
// results.  A C frame that a caller's tail call cannot take away: behind
// it the functions of the start-up scripts find their caller's line for an
// error (see startup.lua).
int callThrough(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  return lua_gettop(L);
}

// [-1, +1, m] callThrough with the function given as its upvalue.
int newCallThrough(lua_State* L) {
  luaL_checktype(L, 1, LUA_TFUNCTION);
  lua_settop(L, 1);
  lua_pushcclosure(L, callThrough, 1);
  return 1;
}

// Makes `name` (a dotted path) resolve to the table on top of the stack, as
// a module declaring itself would: package.loaded[name] and the global path.
// Pops the table.
void declareModule(lua_State* L, const std::string& name) {
  lua_getglobal(L, "package");
  lua_getfield(L, -1, "loaded");
  lua_pushvalue(L, -3);
  lua_setfield(L, -2, name.c_str());
  lua_pop(L, 2);

  lua_pushvalue(L, LUA_GLOBALSINDEX);
  std::size_t start = 0;
  for (std::size_t dot; (dot = name.find('.', start)) != std::string::npos; start = dot + 1) {
    const std::string part = name.substr(start, dot - start);
    lua_getfield(L, -1, part.c_str());
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      lua_newtable(L);
      lua_pushvalue(L, -1);
      lua_setfield(L, -3, part.c_str());
    }
    lua_remove(L, -2);
  }
  lua_pushvalue(L, -2);
  lua_setfield(L, -2, name.substr(start).c_str());
  lua_pop(L, 2);
}

// LuaSocket's packaged modules return their table instead of declaring
// themselves, so each result is declared here under the module's name.
void runModule(lua_State* L, const char* name, const char* text) {
  const int top = lua_gettop(L);
  if (luaL_loadstring(L, text) == 0 && lua_pcall(L, 0, 1, 0) == 0 && lua_istable(L, -1)) {
    declareModule(L, name);
  }
  lua_settop(L, top);
}

struct Module {
  const char* name;
  const char* text;
};

// In dependency order; socket.headers is needed by socket.http.
const Module kSocketModulesAfterCollection[] = {
    {"mime", mimeModule},
    {"socket.tp", socketTpModule},
    {"socket.url", socketUrlModule},
    {"socket.headers", socketHeadersModule},
    {"socket.ftp", socketFtpModule},
    {"socket.http", socketHttpModule},
    {"socket.smtp", socketSmtpModule},
};

}  // namespace

void openLibrarySet(lua_State* L) {
  openLibraries(L, kFirstSet);
  engine::watchCoroutines(L);
  engine::watchLocale(L);
  // Before re and the start-up scripts take copies of library functions.
  engine::wrapCoreLibraries(L);

  registerTimestampType(L);
  lua_pop(L, 1);

  // For the start-up scripts only: the first one takes it out again.
  lua_pushcfunction(L, newCallThrough);
  lua_setfield(L, LUA_REGISTRYINDEX, "vesko.callThrough");
  runChunk(L, startupScript);
  runChunk(L, reModule);
  runChunk(L, utf8SubstringScript);

  openLibraries(L, kSecondSet);
  engine::wrapSocketCore(L);
  engine::guardSocketObjects(L, true);

  runModule(L, "socket", socketModule);
  runModule(L, "ltn12", ltn12Module);
  lua_gc(L, LUA_GCCOLLECT, 0);
  for (const Module& module : kSocketModulesAfterCollection) runModule(L, module.name, module.text);
  // Last: every library has registered its metatables by now.
  engine::guardDebugLibrary(L);
}

}  // namespace vesko
