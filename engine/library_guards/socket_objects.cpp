#include "engine/library_guards/socket_objects.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <lua.hpp>

#include "engine/broken_pipe.h"

namespace vesko::engine {

namespace {

// The classes' metatables, by address; a class opened again adds its new
// one.  One interpreter at a time: start-up begins the list again.
std::vector<const void*> classMetatables;

// The methods behind the wrappers, one slot per distinct C function.
constexpr std::size_t kMostMethods = 128;
std::array<lua_CFunction, kMostMethods> methods{};
std::size_t methodCount = 0;

bool isSocketObject(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TUSERDATA || !lua_getmetatable(L, index)) return false;
  const void* metatable = lua_topointer(L, -1);
  lua_pop(L, 1);
  return std::find(classMetatables.begin(), classMetatables.end(), metatable) !=
         classMetatables.end();
}

// A wrapped method: upvalue 1 points at its slot.  Runs the method in this
// frame, which holds the same arguments.
int checkedMethod(lua_State* L) {
  const auto* method = static_cast<const lua_CFunction*>(lua_touserdata(L, lua_upvalueindex(1)));
  if (!isSocketObject(L, 1)) return luaL_typerror(L, 1, "socket");
  // LuaSocket sends without MSG_NOSIGNAL: a peer that has gone would
  // raise SIGPIPE.
  BrokenPipeScope held;
  return (*method)(L);
}

// Replaces each C function of the table on top (one of no upvalues, as
// LuaSocket's are) by a wrapper.  Stack unchanged.
void wrapMethods(lua_State* L) {
  const int table = lua_gettop(L);
  lua_pushnil(L);
  while (lua_next(L, table) != 0) {
    const lua_CFunction function = lua_tocfunction(L, -1);
    bool plain = function != nullptr && function != checkedMethod;
    if (plain && lua_getupvalue(L, -1, 1) != nullptr) {
      lua_pop(L, 1);
      plain = false;
    }
    lua_pop(L, 1);
    if (!plain) continue;
    auto slot = std::find(methods.begin(), methods.begin() + methodCount, function);
    if (slot == methods.begin() + methodCount) {
      if (methodCount == kMostMethods) continue;
      methods[methodCount++] = function;
    }
    lua_pushvalue(L, -1);
    lua_pushlightuserdata(L, &*slot);
    lua_pushcclosure(L, checkedMethod, 1);
    lua_rawset(L, table);
  }
}

// LuaSocket's classes are registered under names such as "tcp{client}".
bool isClassName(lua_State* L, int index) {
  std::size_t length = 0;
  const char* name = lua_type(L, index) == LUA_TSTRING ? lua_tolstring(L, index, &length) : nullptr;
  return name != nullptr && length > 1 && name[length - 1] == '}' &&
         std::memchr(name, '{', length) != nullptr;
}

}  // namespace

void guardSocketObjects(lua_State* L, bool startUp) {
  if (startUp) classMetatables.clear();
  lua_pushnil(L);
  while (lua_next(L, LUA_REGISTRYINDEX) != 0) {
    if (isClassName(L, -2) && lua_istable(L, -1)) {
      const void* metatable = lua_topointer(L, -1);
      if (std::find(classMetatables.begin(), classMetatables.end(), metatable) ==
          classMetatables.end()) {
        classMetatables.push_back(metatable);
      }
      wrapMethods(L);
      lua_getfield(L, -1, "__index");
      if (lua_istable(L, -1)) wrapMethods(L);
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
}

}  // namespace vesko::engine
