// Time limits: every run of Lua code is watched by a count hook that stops
// it with "Time limit exceeded." once the limit has passed.
//
// Runs nest: a script may evaluate a calculation that starts another run.
// The outermost run's start sets the deadline of the whole nest; a nested
// run takes clocks of its own (vesko.ScriptTime's "elapsed") but never
// moves that deadline, and the outer run's clocks and hook come back when
// it ends.
//
// Once the deadline has passed, the run is overrun until its outermost run
// ends: every thread the nest is executing gets a hook that raises on every
// instruction, and the message handlers that xpcall calls hand the error on
// untouched, so no script code (which could catch the error, or loop where
// hooks are off) runs again.  Stopping visits each thread once, and no
// frame: its cost does not grow with the depth of the stacks.
#ifndef VESKO_ENGINE_TIME_LIMIT_H
#define VESKO_ENGINE_TIME_LIMIT_H

#include <cstdint>

#include "lua.hpp"

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

// After shutdown: no run open, no overrun, clocks at 0.  The limit and
// the interval stay as set.
void resetTimeLimitRuns() noexcept;

// Starts the clocks for a run on `L` and installs the time-limit hook on it
// (or removes any hook when the interval is 0).  Outside any TimedRun the
// run's clocks are also the deadline's.
void armTimeLimit(lua_State* L);

// One run of Lua code on `L`, from its arming to its end.  The outermost
// one starts the deadline and ends the overrun state; a nested one gives
// `L` back the hook it had.  Scopes end in the reverse order of their
// start.
class TimedRun {
 public:
  explicit TimedRun(lua_State* L);
  ~TimedRun();
  TimedRun(const TimedRun&) = delete;
  TimedRun& operator=(const TimedRun&) = delete;

 private:
  lua_State* thread_;
  int32_t outerClock_;
  int64_t outerTime_;
  // The hook `thread_` had, given back by a nested run only.
  lua_Hook outerHook_ = nullptr;
  int outerMask_ = 0;
  int outerCount_ = 0;
};

// A thread that code of the running nest resumes, listed for as long as it
// runs so that an overrun reaches it too.
class ResumedThread {
 public:
  explicit ResumedThread(lua_State* co);
  ~ResumedThread();
  ResumedThread(const ResumedThread&) = delete;
  ResumedThread& operator=(const ResumedThread&) = delete;
};

// The thread the innermost open run executes now (its own, or the
// coroutine it resumed), or null between runs.
lua_State* runningThread();

// Gives `co` the time-limit hook of `L`, the thread about to resume it, so
// that a coroutine made while the hook was off (or with other settings)
// runs under the current ones.  A hook the script set on `co` itself, or
// a hook on `L` that is not the time limit's, leaves `co` as it is.
void carryTimeLimit(lua_State* L, lua_State* co);

// xpcall(f, handler) for scripts: the base library's, except that it notes
// its frame while open, so that an overrun finds the handlers to silence
// without walking any stack.  [-0, +n]
int watchedXpcall(lua_State* L);

// [-0, +0, e] For loops of the plug-in's own that can run long inside one
// C call, every few thousand steps: raises "Time limit exceeded." as the
// hook does once the run's deadline has passed.  Does nothing where the
// time-limit hook is off.
void checkDeadline(lua_State* L);

// Start-up, once the base library is open and before any script runs:
// coroutine.resume and coroutine.wrap carry the time limit into the
// coroutines they resume, and xpcall becomes watchedXpcall.  [-0, +0]
void watchCoroutines(lua_State* L);

// Seconds used by the run now going: the calendar reading when it runs
// ahead of the millisecond clock by more than a second, else the latter.
double elapsedSeconds();

// vesko.ScriptTime([what]): "elapsed", "remaining" or "timeout".
int scriptTime(lua_State* L);

}  // namespace vesko::engine

#endif
