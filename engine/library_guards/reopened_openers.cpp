// The bundled libraries opened again through package.loadlib or require:
// what they open is wrapped like the first time, and the interpreter's own
// openers are refused.
#include <dlfcn.h>

#include <cstring>
#include <initializer_list>

#include <lua.hpp>

#include "engine/broken_pipe.h"
#include "engine/library_guards/checks.h"
#include "engine/library_guards/socket_objects.h"

extern "C" {
int luaopen_bit(lua_State* L);
int luaopen_lpeg(lua_State* L);
int luaopen_socket_core(lua_State* L);
}

namespace vesko::engine {

namespace {

// package.loadlib and the searchers of require find a bundled library's
// opener again when a script names its file; that opener would register
// the library's own functions over the wrapped ones.  Each one found is
// handed out as openBounded, which wraps what it opens.
struct Opener {
  lua_CFunction open;
  const char* table;
};
const Opener kOpeners[] = {
    {luaopen_bit, "bit"}, {luaopen_lpeg, "lpeg"}, {luaopen_socket_core, "socket"}};
// lua-cjson is a system module, loaded only when a script requires it: its
// openers are known by their names.
Opener cjsonOpener{nullptr, "cjson"};
Opener cjsonSafeOpener{nullptr, "cjson.safe"};

// The opener of upvalue 1 called with the arguments; its results, the table
// first, wrapped.  [-0, +n]
int openBounded(lua_State* L) {
  PipeDispositionKeeper hostDisposition;  // LuaSocket's core changes it
  const auto* opener = static_cast<const Opener*>(lua_touserdata(L, lua_upvalueindex(1)));
  lua_pushcfunction(L, opener->open);
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  if (lua_istable(L, 1)) {
    lua_pushvalue(L, 1);
    wrapTable(L, opener->table);
    if (opener->open == luaopen_lpeg) wrapPatternOperators(L);
    if (opener->open == luaopen_socket_core) guardSocketObjects(L, false);
    lua_pop(L, 1);
  }
  return lua_gettop(L);
}

// The interpreter's own openers, and luaL_openlibs that calls them all:
// opened again, they would register the libraries' own functions over the
// wrapped ones.  Known by the symbol's name, so that a copy of the
// interpreter's library at another path is known too.
bool isInterpreterOpener(const char* symbol) {
  static constexpr const char* kNames[] = {"luaopen_base", "luaopen_package", "luaopen_table",
                                           "luaopen_io",   "luaopen_os",      "luaopen_string",
                                           "luaopen_math", "luaopen_debug",   "luaL_openlibs"};
  for (const char* name : kNames) {
    if (std::strcmp(symbol, name) == 0) return true;
  }
  return false;
}

// The name of the symbol `function` is, or "".
const char* symbolName(lua_CFunction function) {
  Dl_info where{};
  if (dladdr(reinterpret_cast<void*>(function), &where) == 0 || where.dli_sname == nullptr ||
      where.dli_saddr != reinterpret_cast<void*>(function)) {
    return "";
  }
  return where.dli_sname;
}

// The opener `found` is, when it opens a library that gets wrapped.
const Opener* knownOpener(lua_CFunction found, const char* symbol) {
  for (const Opener& opener : kOpeners) {
    if (found == opener.open) return &opener;
  }
  for (Opener* opener : {&cjsonOpener, &cjsonSafeOpener}) {
    if (std::strcmp(symbol, opener == &cjsonOpener ? "luaopen_cjson" : "luaopen_cjson_safe") == 0) {
      opener->open = found;
      return opener;
    }
  }
  return nullptr;
}

// [-0, +0] What an interpreter opener found again is handed out as.
int refuseOpeningAgain(lua_State* L) {
  return luaL_error(L, "the interpreter's own libraries are open already");
}

}  // namespace

int runFindingOpener(lua_State* L, lua_CFunction original) {
  const int results = original(L);
  if (results < 1) return results;
  const int first = lua_gettop(L) - results + 1;
  const lua_CFunction found = lua_tocfunction(L, first);
  if (found == nullptr) return results;
  const char* symbol = symbolName(found);
  if (isInterpreterOpener(symbol)) {
    lua_pushcfunction(L, refuseOpeningAgain);
    lua_replace(L, first);
  } else if (const Opener* opener = knownOpener(found, symbol)) {
    lua_pushlightuserdata(L, const_cast<Opener*>(opener));
    lua_pushcclosure(L, openBounded, 1);
    lua_replace(L, first);
  }
  return results;
}

}  // namespace vesko::engine
