#include "library/timestamp.h"

#include <cmath>
#include <ctime>

#include "lua.hpp"

namespace vesko {

namespace {

// [-0, +0] The payload of argument `arg`; raises the standard argument
// error naming "userdata", then "vesko.timestamp", when it is not one.
double* checkTimestamp(lua_State* L, int arg) {
  if (lua_type(L, arg) != LUA_TUSERDATA) luaL_typerror(L, arg, "userdata");
  return static_cast<double*>(luaL_checkudata(L, arg, kTimestampType));
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
  luaL_getmetatable(L, kTimestampType);
  lua_setmetatable(L, -2);
  return payload;
}

double* toTimestamp(lua_State* L, int index) {
  void* block = lua_touserdata(L, index);
  if (block == nullptr || lua_islightuserdata(L, index) || !lua_getmetatable(L, index)) {
    return nullptr;
  }
  luaL_getmetatable(L, kTimestampType);
  const bool same = lua_rawequal(L, -1, -2) != 0;
  lua_pop(L, 2);
  return same ? static_cast<double*>(block) : nullptr;
}

}  // namespace vesko
