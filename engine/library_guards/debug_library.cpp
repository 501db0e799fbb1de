#include "engine/library_guards/debug_library.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <lua.hpp>

namespace vesko::engine {

namespace {

// The metatables the libraries registered by the end of start-up, by
// address.  The registry is the scripts' to rewrite (debug.getregistry), so
// it alone cannot tell a library's metatable later.  One interpreter at a
// time; an address a collected table left behind only refuses more.
std::vector<const void*> libraryMetatables;

// Whether the table at `index` is one a library may take as its userdata's
// type: one it registered (then or since), or one with a key of LuaSocket's
// class and group names ("tcp{client}", "select{able}"), which LuaSocket
// checks by name.  Runs no Lua code.
bool isLibraryMetatable(lua_State* L, int index) {
  const void* table = lua_topointer(L, index);
  if (std::find(libraryMetatables.begin(), libraryMetatables.end(), table) !=
      libraryMetatables.end()) {
    return true;
  }
  bool found = false;
  lua_pushnil(L);
  while (!found && lua_next(L, LUA_REGISTRYINDEX) != 0) {
    found = lua_type(L, -2) == LUA_TSTRING && lua_topointer(L, -1) == table;
    lua_pop(L, 1);
  }
  if (found) {
    lua_pop(L, 1);
    return true;
  }
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    std::size_t length = 0;
    const char* key = lua_type(L, -2) == LUA_TSTRING ? lua_tolstring(L, -2, &length) : nullptr;
    if (key != nullptr && length > 1 && key[length - 1] == '}' &&
        std::memchr(key, '{', length) != nullptr) {
      lua_pop(L, 2);
      return true;
    }
    lua_pop(L, 1);
  }
  return false;
}

// Whether the userdata at `index` is one a script made: newproxy makes
// them empty, and a script can give them no library's metatable.  Every
// library's userdata holds something.
bool isScriptUserdata(lua_State* L, int index) {
  if (lua_objlen(L, index) != 0) return false;
  if (!lua_getmetatable(L, index)) return true;
  const bool library = isLibraryMetatable(L, lua_gettop(L));
  lua_pop(L, 1);
  return !library;
}

// Whether the object at `index` keeps an environment a library relies on.
bool hasLibraryEnvironment(lua_State* L, int index) {
  return lua_iscfunction(L, index) ||
         (lua_type(L, index) == LUA_TUSERDATA && !isScriptUserdata(L, index));
}

enum Guarded {
  kGetfenv,
  kSetfenv,
  kSetmetatable,
  kGetupvalue,
  kSetupvalue,
  kSetlocal,
  kGuardedCount
};
const char* const kNames[kGuardedCount] = {"getfenv",    "setfenv",    "setmetatable",
                                           "getupvalue", "setupvalue", "setlocal"};

// The debug library's functions behind the wrappers, out of scripts' reach.
lua_CFunction originals[kGuardedCount];

// debug.getfenv(o): nil for a C function or a library's userdata, as for
// any object without an environment of its own.  [-0, +1]
int getfenvGuarded(lua_State* L) {
  if (hasLibraryEnvironment(L, 1)) {
    lua_pushnil(L);
    return 1;
  }
  return originals[kGetfenv](L);
}

int setfenvGuarded(lua_State* L) {
  if (lua_iscfunction(L, 1))
    return luaL_argerror(L, 1, "cannot change the environment of a C function");
  if (hasLibraryEnvironment(L, 1))
    return luaL_argerror(L, 1, "cannot change the environment of a library's userdata");
  return originals[kSetfenv](L);
}

// debug.setmetatable(o, mt): a userdata keeps a library's metatable only
// if it had it; an empty one a script made never gets one.
int setmetatableGuarded(lua_State* L) {
  if (lua_type(L, 1) == LUA_TUSERDATA && lua_istable(L, 2) && isLibraryMetatable(L, 2)) {
    bool same = false;
    if (lua_getmetatable(L, 1)) {
      same = lua_rawequal(L, -1, 2) != 0;
      lua_pop(L, 1);
    }
    if (!same) return luaL_argerror(L, 2, "cannot give a userdata a library's metatable");
  }
  return originals[kSetmetatable](L);
}

// debug.getupvalue(f, n): nothing for a C function, as for an upvalue it
// does not have; the wrappers of the libraries' functions keep there what
// the libraries' own functions should be called with only.  [-0, +0]
int getupvalueGuarded(lua_State* L) {
  if (lua_iscfunction(L, 1)) return 0;
  return originals[kGetupvalue](L);
}

int setupvalueGuarded(lua_State* L) {
  if (lua_iscfunction(L, 1))
    return luaL_argerror(L, 1, "cannot change the upvalues of a C function");
  return originals[kSetupvalue](L);
}

// debug.setlocal([thread,] level, n, value): a C function's temporaries
// are what it works on (table.sort's table, a wrapper's arguments); it
// reads them back without checking their types again.
int setlocalGuarded(lua_State* L) {
  const int offset = lua_type(L, 1) == LUA_TTHREAD ? 1 : 0;
  lua_State* thread = offset == 1 ? lua_tothread(L, 1) : L;
  if (lua_isnumber(L, 1 + offset)) {
    const double level = lua_tonumber(L, 1 + offset);
    lua_Debug frame;
    if (level >= 0 && level < 0x1p31 && lua_getstack(thread, static_cast<int>(level), &frame) &&
        lua_getinfo(thread, "S", &frame) && std::strcmp(frame.what, "C") == 0) {
      return luaL_argerror(L, 1 + offset, "cannot change the locals of a C function");
    }
  }
  return originals[kSetlocal](L);
}

const lua_CFunction kWrappers[kGuardedCount] = {getfenvGuarded,      setfenvGuarded,
                                                setmetatableGuarded, getupvalueGuarded,
                                                setupvalueGuarded,   setlocalGuarded};

// Notes every table the registry holds under a name: the libraries'
// metatables among them.  Stack unchanged.
void noteLibraryMetatables(lua_State* L) {
  libraryMetatables.clear();
  lua_pushnil(L);
  while (lua_next(L, LUA_REGISTRYINDEX) != 0) {
    if (lua_type(L, -2) == LUA_TSTRING && lua_istable(L, -1)) {
      libraryMetatables.push_back(lua_topointer(L, -1));
    }
    lua_pop(L, 1);
  }
}

}  // namespace

void guardDebugLibrary(lua_State* L) {
  noteLibraryMetatables(L);
  lua_getglobal(L, "debug");
  if (lua_istable(L, -1)) {
    for (int i = 0; i < kGuardedCount; ++i) {
      lua_getfield(L, -1, kNames[i]);
      const lua_CFunction function = lua_tocfunction(L, -1);
      lua_pop(L, 1);
      if (function == nullptr || function == kWrappers[i]) continue;
      originals[i] = function;
      lua_pushcfunction(L, kWrappers[i]);
      lua_setfield(L, -2, kNames[i]);
    }
  }
  lua_pop(L, 1);
}

}  // namespace vesko::engine
