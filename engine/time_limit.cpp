#include "engine/time_limit.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "engine/figures.h"

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

// The start of the outermost run now going (of the latest one between
// runs): the deadline is measured from here.
int32_t deadlineClock = 0;
int64_t deadlineTime = 0;

// TimedRun scopes now open, and whether their deadline has passed.  The
// overrun state lasts until the outermost scope ends.
int depth = 0;
bool overrun = false;

// The threads the open runs execute, outermost first: each run's own and
// every coroutine resumed inside it.  A thread may appear more than once.
std::vector<lua_State*>& runningThreads() {
  static std::vector<lua_State*> threads = [] {
    std::vector<lua_State*> list;
    list.reserve(256);
    return list;
  }();
  return threads;
}

// The difference of two millisecond readings in signed 32-bit arithmetic,
// as seconds.
double secondsSince(int32_t start, int32_t now) {
  const auto difference =
      static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(start));
  return static_cast<double>(difference) / 1000.0;
}

bool deadlinePassed() {
  if (timeLimit <= 0) return false;
  return secondsSince(deadlineClock, millisecondClock()) > timeLimit ||
         static_cast<double>(calendarClock() - deadlineTime) + 1.0 > timeLimit;
}

void timeLimitHook(lua_State* L, lua_Debug*);

// The xpcall frames now open, oldest first: the thread and the call-info
// index of each (lua_Debug's private i_ci, see traceback.cpp: lua_setlocal
// needs it, and unlike a level it stays put while frames come and go
// above it).  They
// open and close in nested order, whatever thread they are on.
struct XpcallFrame {
  lua_State* thread;
  int callInfo;
};
constexpr int kMostXpcallFrames = 1024;
XpcallFrame xpcallFrames[kMostXpcallFrames];
int xpcallCount = 0;

// The message handler an overrun leaves in xpcall frames: the error goes
// on as it is.  [-0, +0]
int handOnError(lua_State* L) {
  lua_settop(L, 1);
  return 1;
}

// Makes every thread of the open runs raise at its next instruction and
// gives every open xpcall frame handOnError as its handler (xpcall keeps
// it in its first slot while it calls).  Threads that start running later
// take the hook over from the one that resumes them (carryTimeLimit) or
// from their TimedRun.  Nothing is allocated on a thread other than L: it
// is suspended in a resume or a host call and must not run a collection
// step.  [-0, +0]
void stopRun(lua_State* L) {
  lua_sethook(L, timeLimitHook, LUA_MASKCOUNT, 1);
  if (!overrun) return;
  for (lua_State* T : runningThreads()) lua_sethook(T, timeLimitHook, LUA_MASKCOUNT, 1);
  lua_pushcfunction(L, handOnError);
  for (int i = 0; i < xpcallCount; ++i) {
    lua_State* T = xpcallFrames[i].thread;
    // A suspended thread's top frame is a C function with room to spare.
    if (lua_checkstack(T, 1) == 0) continue;
    lua_pushvalue(L, -1);
    if (T != L) lua_xmove(L, T, 1);
    lua_Debug frame{};
    frame.i_ci = xpcallFrames[i].callInfo;
    if (lua_setlocal(T, &frame, 1) == nullptr) lua_pop(T, 1);
  }
  lua_pop(L, 1);
}

// Raises the time limit's error on L, which has passed the deadline; the
// first time in a run, every thread of the run is stopped as well.  The
// threads are visited once per overrun, whatever their depth.  [-0, +0, e]
[[noreturn]] void raiseTimeLimit(lua_State* L) {
  if (!overrun) {
    ++figures.timeLimitStops;
    // Between runs there is nothing to stop but L.
    overrun = depth > 0;
    stopRun(L);
  } else {
    lua_sethook(L, timeLimitHook, LUA_MASKCOUNT, 1);
  }
  luaL_error(L, "Time limit exceeded.");
  std::abort();  // luaL_error does not return
}

void timeLimitHook(lua_State* L, lua_Debug*) {
  if (overrun || deadlinePassed()) raiseTimeLimit(L);
}

// lua_sethook restarts the instruction count, so a thread that already
// has the hook keeps it as it is: a loop whose every turn starts a nested
// run on the same thread must still reach its next check.
void setHook(lua_State* L, lua_Hook hook, int mask, int count) {
  if (lua_gethook(L) == hook && lua_gethookmask(L) == mask && lua_gethookcount(L) == count) return;
  lua_sethook(L, hook, mask, count);
}

}  // namespace

void resetTimeLimitRuns() noexcept {
  runStartClock = 0;
  runStartTime = 0;
  deadlineClock = 0;
  deadlineTime = 0;
  depth = 0;
  overrun = false;
  runningThreads().clear();
  xpcallCount = 0;
}

void armTimeLimit(lua_State* L) {
  runStartClock = millisecondClock();
  runStartTime = calendarClock();
  if (depth == 0) {
    deadlineClock = runStartClock;
    deadlineTime = runStartTime;
  }
  if (hookInterval > 0) {
    setHook(L, timeLimitHook, LUA_MASKCOUNT, hookInterval);
  } else {
    lua_sethook(L, timeLimitHook, 0, 100);
  }
}

TimedRun::TimedRun(lua_State* L)
    : thread_(L), outerClock_(runStartClock), outerTime_(runStartTime) {
  if (depth == 0) {
    // The outermost run: nothing to give back at its end (the hook stays).
    overrun = false;
  } else {
    outerHook_ = lua_gethook(L);
    outerMask_ = lua_gethookmask(L);
    outerCount_ = lua_gethookcount(L);
  }
  armTimeLimit(L);
  // Started from where no hook runs (a finalizer) after the deadline.
  if (overrun) lua_sethook(L, timeLimitHook, LUA_MASKCOUNT, 1);
  ++depth;
  runningThreads().push_back(L);
}

TimedRun::~TimedRun() {
  runningThreads().pop_back();
  --depth;
  runStartClock = outerClock_;
  runStartTime = outerTime_;
  if (depth == 0) {
    // The hook stays on the thread; the next arming replaces it.
    overrun = false;
  } else if (overrun) {
    lua_sethook(thread_, timeLimitHook, LUA_MASKCOUNT, 1);
  } else {
    setHook(thread_, outerHook_, outerMask_, outerCount_);
  }
}

ResumedThread::ResumedThread(lua_State* co) {
  runningThreads().push_back(co);
}

ResumedThread::~ResumedThread() {
  runningThreads().pop_back();
}

lua_State* runningThread() {
  return runningThreads().empty() ? nullptr : runningThreads().back();
}

void carryTimeLimit(lua_State* L, lua_State* co) {
  const lua_Hook own = lua_gethook(co);
  if (own != nullptr && own != timeLimitHook) return;
  const lua_Hook current = lua_gethook(L);
  if (current == timeLimitHook) {
    setHook(co, timeLimitHook, lua_gethookmask(L), lua_gethookcount(L));
  } else if (current == nullptr) {
    lua_sethook(co, nullptr, 0, 0);
  }
}

namespace {

// Notes the xpcall frame running on L (level 0) while it is open.
class OpenXpcall {
 public:
  explicit OpenXpcall(lua_State* L) {
    lua_Debug frame;
    if (xpcallCount == kMostXpcallFrames || lua_getstack(L, 0, &frame) == 0) {
      luaL_error(L, "C stack overflow");
    }
    xpcallFrames[xpcallCount++] = {L, frame.i_ci};
    index_ = xpcallCount - 1;
  }
  ~OpenXpcall() {
    if (xpcallCount > index_) xpcallCount = index_;
  }
  OpenXpcall(const OpenXpcall&) = delete;
  OpenXpcall& operator=(const OpenXpcall&) = delete;

 private:
  int index_;
};

}  // namespace

// A port of xpcall (Lua 5.1's lbaselib.c, luaB_xpcall), step for step, with
// its frame noted so that an overrun can replace its handler.
// [-0, +n]
int watchedXpcall(lua_State* L) {
  luaL_checkany(L, 2);
  lua_settop(L, 2);
  lua_insert(L, 1);  // the handler under the function
  OpenXpcall open(L);
  const int status = lua_pcall(L, 0, LUA_MULTRET, 1);
  lua_pushboolean(L, status == 0);
  lua_replace(L, 1);
  return lua_gettop(L);
}

void checkDeadline(lua_State* L) {
  // Where the hook is off, the limit is off too.
  if (lua_gethook(L) != timeLimitHook || (lua_gethookmask(L) & LUA_MASKCOUNT) == 0) return;
  if (overrun || deadlinePassed()) raiseTimeLimit(L);
}

namespace {

// Seconds since a run's start readings, as elapsedSeconds measures them.
double secondsSinceStart(int32_t clock, int64_t time) {
  const double processor = secondsSince(clock, millisecondClock());
  const auto calendar = static_cast<double>(calendarClock() - time);
  return calendar > processor + 1.0 ? calendar : processor;
}

}  // namespace

double elapsedSeconds() {
  return secondsSinceStart(runStartClock, runStartTime);
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
    // A nested run has only what the outermost one has left.
    lua_pushnumber(L, timeLimit - secondsSinceStart(deadlineClock, deadlineTime));
  } else if (std::strncmp(what, "timeout", 7) == 0) {
    lua_pushnumber(L, timeLimit);
  } else {
    return luaL_error(L, "Unknown argument to vesko.ScriptTime()");
  }
  return 1;
}

}  // namespace vesko::engine
