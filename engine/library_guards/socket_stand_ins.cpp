// Stand-ins for the objects socket.select is given, so that the library
// writes no descriptor outside its fixed-size sets.
#include <sys/select.h>

#include <cmath>

#include <lua.hpp>

#include "engine/library_guards/checks.h"

namespace vesko::engine {

namespace {

// socket.select asks each object in its lists for its descriptor twice, the
// second time without a bound, and writes that bit into a fixed-size set.
// The wrapper asks once, checks the answer, and hands the library a list of
// stand-ins that repeat it; the results name the objects again.  A stand-in
// is {descriptor, dirty, object, getfd = ..., dirty = ...}.
int standInDescriptor(lua_State* L) {
  lua_rawgeti(L, 1, 1);
  return 1;
}
int standInDirty(lua_State* L) {
  lua_rawgeti(L, 1, 2);
  return 1;
}

// Calls method `name` of the object on top, as the library does; pushes its
// first result, or nil when the object has no such method.
void callMethod(lua_State* L, const char* name) {
  lua_pushstring(L, name);
  lua_gettable(L, -2);
  if (lua_isnil(L, -1)) return;
  lua_pushvalue(L, -2);
  lua_call(L, 1, 1);
}

// Replaces the list at argument `arg` by its stand-ins.  An entry whose
// descriptor is not a number at least 0 is no socket, and the library
// would skip it too.  Stack unchanged.
void standInList(lua_State* L, int arg, bool askDirty) {
  if (lua_isnil(L, arg)) return;
  luaL_checktype(L, arg, LUA_TTABLE);
  lua_newtable(L);
  const int list = lua_gettop(L);
  int count = 0;
  for (int i = 1;; ++i) {
    lua_pushinteger(L, i);
    lua_gettable(L, arg);
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);
      break;
    }
    callMethod(L, "getfd");
    const double descriptor = lua_isnumber(L, -1) ? std::trunc(lua_tonumber(L, -1)) : -1;
    lua_pop(L, 1);
    if (!(descriptor >= 0)) {
      lua_pop(L, 1);
      continue;
    }
    if (descriptor >= FD_SETSIZE) luaL_argerror(L, arg, "descriptor too large for set size");
    bool dirty = false;
    if (askDirty) {
      callMethod(L, "dirty");
      dirty = lua_toboolean(L, -1) != 0;
      lua_pop(L, 1);
    }
    lua_createtable(L, 3, 2);
    lua_pushnumber(L, descriptor);
    lua_rawseti(L, -2, 1);
    lua_pushboolean(L, dirty);
    lua_rawseti(L, -2, 2);
    lua_pushvalue(L, -2);
    lua_rawseti(L, -2, 3);
    lua_pushcfunction(L, standInDescriptor);
    lua_setfield(L, -2, "getfd");
    lua_pushcfunction(L, standInDirty);
    lua_setfield(L, -2, "dirty");
    lua_rawseti(L, list, ++count);
    lua_pop(L, 1);
  }
  lua_replace(L, arg);
}

// Replaces the result list at `index`, when it is a table of stand-ins
// (array part, and each stand-in mapped back to its place), by the same
// list of the objects.  Stack unchanged.
void objectsBack(lua_State* L, int index) {
  if (!lua_istable(L, index)) return;
  lua_newtable(L);
  for (int i = 1;; ++i) {
    lua_rawgeti(L, index, i);
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      break;
    }
    lua_rawgeti(L, -1, 3);
    lua_remove(L, -2);
    lua_pushvalue(L, -1);
    lua_rawseti(L, -3, i);
    lua_pushinteger(L, i);
    lua_rawset(L, -3);
  }
  lua_replace(L, index);
}

}  // namespace

int runSelect(lua_State* L, lua_CFunction original) {
  lua_settop(L, 3);
  standInList(L, 1, true);
  standInList(L, 2, false);
  const int results = original(L);
  const int first = lua_gettop(L) - results + 1;
  for (int i = 0; i < results && i < 2; ++i) objectsBack(L, first + i);
  return results;
}

}  // namespace vesko::engine
