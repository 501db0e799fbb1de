#include "engine/time_limit.h"

#include <cstring>
#include <ctime>

#include "lua.hpp"

namespace vesko::engine {

int32_t timeLimit = kDefaultTimeLimit;
int32_t hookInterval = kDefaultHookInterval;
int32_t runStartClock = 0;
int64_t runStartTime = 0;

int32_t millisecondClock() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  // Wraps like a 32-bit clock; only differences are ever used.
  const auto ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

int64_t calendarClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now.tv_sec;
}

namespace {

// The difference of two readings in signed 32-bit arithmetic, as seconds.
double processorSeconds(int32_t now) {
  const auto difference =
      static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(runStartClock));
  return static_cast<double>(difference) / 1000.0;
}

void timeLimitHook(lua_State* L, lua_Debug*) {
  const int32_t now = millisecondClock();
  const int64_t calendar = calendarClock();
  if (timeLimit <= 0) return;
  const bool overrun = processorSeconds(now) > timeLimit ||
                       static_cast<double>(calendar - runStartTime) + 1.0 > timeLimit;
  if (!overrun) return;
  // From now on every instruction raises, so the error escapes one
  // protected call after another instead of being caught and retried for
  // ever.  The next arming restores the normal interval.
  lua_sethook(L, timeLimitHook, LUA_MASKCOUNT, 1);
  luaL_error(L, "Time limit exceeded.");
}

}  // namespace

void armTimeLimit(lua_State* L) {
  runStartClock = millisecondClock();
  runStartTime = calendarClock();
  if (hookInterval > 0) {
    lua_sethook(L, timeLimitHook, LUA_MASKCOUNT, hookInterval);
  } else {
    lua_sethook(L, timeLimitHook, 0, 100);
  }
}

double elapsedSeconds() {
  const double processor = processorSeconds(millisecondClock());
  const auto calendar = static_cast<double>(calendarClock() - runStartTime);
  return calendar > processor + 1.0 ? calendar : processor;
}

// [-0, +1]
int scriptTime(lua_State* L) {
  const double elapsed = elapsedSeconds();
  if (lua_gettop(L) == 0) {
    lua_pushnumber(L, elapsed);
    return 1;
  }
  const char* what = luaL_checkstring(L, 1);
  // Matched on the keyword's length only: "elapsedTime" is "elapsed".
  if (std::strncmp(what, "elapsed", 7) == 0) {
    lua_pushnumber(L, elapsed);
  } else if (std::strncmp(what, "remaining", 9) == 0) {
    lua_pushnumber(L, timeLimit - elapsed);
  } else if (std::strncmp(what, "timeout", 7) == 0) {
    lua_pushnumber(L, timeLimit);
  } else {
    return luaL_error(L, "Unknown argument to vesko.ScriptTime()");
  }
  return 1;
}

}  // namespace vesko::engine
