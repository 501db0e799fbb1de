// Time limits: every run of Lua code is watched by a count hook that stops
// it with "Time limit exceeded." once the limit has passed.
#ifndef VESKO_ENGINE_TIME_LIMIT_H
#define VESKO_ENGINE_TIME_LIMIT_H

#include <cstdint>

struct lua_State;

namespace vesko::engine {

inline constexpr int32_t kDefaultTimeLimit = 5;       // seconds
inline constexpr int32_t kDefaultHookInterval = 100;  // instructions
inline constexpr int32_t kMaxHookInterval = 1000000;

// Set by Vesko_Timeout; kept for the life of the loaded library, across
// shutdowns.  After any successful change the limit is at least 1 and the
// interval lies in 0 to kMaxHookInterval, 0 meaning no hook.
extern int32_t timeLimit;
extern int32_t hookInterval;

// Readings taken when the latest run was armed.
extern int32_t runStartClock;  // milliseconds, monotonic
extern int64_t runStartTime;   // seconds since 1970

// A monotonic millisecond count (wrapping in 32 bits) and the calendar
// time in seconds; both cheap enough to read on every hook call.
int32_t millisecondClock();
int64_t calendarClock();

// Starts the clocks for a run on `L` and installs the time-limit hook on it
// (or removes any hook when the interval is 0).  Also ends the "every
// instruction raises" state a previous overrun left on `L`.
void armTimeLimit(lua_State* L);

// Seconds used by the run now going: the calendar reading when it runs
// ahead of the millisecond clock by more than a second, else the latter.
double elapsedSeconds();

// vesko.ScriptTime([what]): "elapsed", "remaining" or "timeout".
int scriptTime(lua_State* L);

}  // namespace vesko::engine

#endif
