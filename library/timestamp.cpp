#include "library/timestamp.h"

#include <cmath>
#include <ctime>

#include "engine/anchors.h"
#include "lua.hpp"

namespace vesko {

namespace {

// [-0, +1] The timestamp metatable.  The one made at registration is kept
// out of scripts' reach, so a script that replaces the registry entry
// cannot make the plug-in set a number as a metatable.
void pushMetatable(lua_State* L) {
  if (engine::anchors != nullptr) {
    engine::pushAnchored(L, engine::kTimestampMetatableSlot);
  } else {
    luaL_getmetatable(L, kTimestampType);
  }
}

// [-0, +0] The payload of argument `arg`; raises the standard argument
// error naming "userdata", then "vesko.timestamp", when it is not one.
double* checkTimestamp(lua_State* L, int arg) {
  if (lua_type(L, arg) != LUA_TUSERDATA) luaL_typerror(L, arg, "userdata");
  double* payload = toTimestamp(L, arg);
  if (payload == nullptr) luaL_typerror(L, arg, kTimestampType);
  return payload;
}

// [-0, +1] vesko.timestamp.new([seconds])
int timestampNew(lua_State* L) {
  const double seconds = luaL_optnumber(L, 1, 0);
  *newTimestamp(L) = seconds;
  return 1;
}

// [-0, +1] vesko.timestamp.value(ts)
int timestampValue(lua_State* L) {
  lua_pushnumber(L, *checkTimestamp(L, 1));
  return 1;
}

// [-0, +1] vesko.timestamp.set(ts, seconds): answers ts itself.
int timestampSet(lua_State* L) {
  double* payload = checkTimestamp(L, 1);
  *payload = luaL_checknumber(L, 2);
  lua_pushvalue(L, 1);
  return 1;
}

// [-0, +1] Local civil time, "%Y-%m-%d %H:%M:%S", of the whole seconds.
int timestampToString(lua_State* L) {
  const double seconds = *checkTimestamp(L, 1);
  // Beyond what the calendar conversion takes the value has no civil form;
  // the text says so rather than converting an out-of-range double.
  constexpr double kLimit = 9.2e18;
  if (!(seconds > -kLimit && seconds < kLimit)) {
    lua_pushliteral(L, "invalid timestamp");
    return 1;
  }
  const std::time_t whole = static_cast<std::time_t>(std::trunc(seconds));
  std::tm civil{};
  char text[32];
  if (localtime_r(&whole, &civil) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &civil) == 0) {
    lua_pushliteral(L, "invalid timestamp");
    return 1;
  }
  lua_pushstring(L, text);
  return 1;
}

// Nothing native is attached to a timestamp.
int timestampCollect(lua_State*) {
  return 0;
}

const luaL_Reg kMethods[] = {
    {"new", timestampNew},
    {"value", timestampValue},
    {"set", timestampSet},
    {nullptr, nullptr},
};

}  // namespace

void registerTimestampType(lua_State* L) {
  luaL_register(L, kTimestampType, kMethods);
  luaL_newmetatable(L, kTimestampType);
  if (engine::anchors != nullptr) {
    lua_pushvalue(L, -1);
    engine::setAnchored(L, engine::kTimestampMetatableSlot);
  }
  lua_pushcfunction(L, timestampCollect);
  lua_setfield(L, -2, "__gc");
  lua_pushcfunction(L, timestampToString);
  lua_setfield(L, -2, "__tostring");
  lua_pushliteral(L, "__index");
  lua_pushvalue(L, -3);
  lua_rawset(L, -3);
  lua_pop(L, 1);
}

double* newTimestamp(lua_State* L) {
  auto* payload = static_cast<double*>(lua_newuserdata(L, sizeof(double)));
  pushMetatable(L);
  if (lua_istable(L, -1)) {
    lua_setmetatable(L, -2);
  } else {
    lua_pop(L, 1);  // a registry entry a script replaced: no metatable
  }
  return payload;
}

double* toTimestamp(lua_State* L, int index) {
  // The debug library can give any userdata this metatable, a zero-size
  // one included, so the block's size is part of the identity.  Neither
  // check runs Lua code or allocates.
  if (lua_type(L, index) != LUA_TUSERDATA || lua_objlen(L, index) != sizeof(double) ||
      !lua_getmetatable(L, index)) {
    return nullptr;
  }
  pushMetatable(L);
  const bool same = lua_rawequal(L, -1, -2) != 0;
  lua_pop(L, 2);
  return same ? static_cast<double*>(lua_touserdata(L, index)) : nullptr;
}

}  // namespace vesko
