// Running the current coroutine for Vesko_CallFunction and
// Vesko_ResumeFunction.
//
// Nested calls.  A function running on a coroutine may evaluate a host
// calculation that calls Vesko_CallFunction again; that nested call makes
// a coroutine of its own current.  The outer call keeps its coroutine
// held while it works with it (engine/anchors.h), takes its result from
// that coroutine, and when it returns makes its coroutine current again,
// with the flag its own outcome gives: the outer call is the one whose
// result the calculation sees last.  A nested Vesko_ResumeFunction that
// would resume a coroutine some call is working with (running it, or
// preparing its arguments) is refused with a run-time error instead.
//
// The coroutine's stack is touched only by moving values on and off it:
// every value is made and converted on the main stack, inside the
// handler's protected call, since a collection step on a suspended
// coroutine would run finalizers on it, outside any protected call.
#ifndef VESKO_FUNCTIONS_COROUTINE_RUN_H
#define VESKO_FUNCTIONS_COROUTINE_RUN_H

#include <cstdint>

#include "api/fm_api.h"
#include "engine/engine.h"
#include "functions/conversion.h"

struct lua_State;

namespace vesko {

// [-(n+1), +0] Moves the function (or the trampoline and its C function)
// and the arguments on top of L, `n` values above the function, onto the
// coroutine `co`.  Answers false, leaving them, when co has no room.
bool moveCall(lua_State* L, lua_State* co, int n);

// lua_resume of `co` with `nargs` arguments on its stack, after arming the
// time limit on it.  The caller holds `co`.  Answers the resume status.
int resumeCoroutine(lua_State* co, int nargs);

// Whether `co` is in the middle of running: it has active frames and is
// not suspended in a yield.
bool isRunning(lua_State* co);

// Whether `co`, which is not running, has ended: it returned and holds no
// values, or it died of an error.  A coroutine that never started holds
// its body (or the value that stood in for it) and has not ended.
bool hasEnded(lua_State* co);

// [-0, +0] After resuming the coroutine held in anchor slot `holdSlot`
// with `status`: settles the active function and answers the external
// function's host error number.  A completed function stores its first
// result by `returned` (error record "0"), a yield stores the first
// yielded value by `yielded` (record 3200), and a failure records the run
// error and answers -1.  Nothing stored leaves `result` untouched.  The
// value stored is moved to L first; L has room for three values.
int16_t finishResume(lua_State* L, int holdSlot, int status, const FMDataVect* parameters,
                     FMData* result, StringRule returned, StringRule yielded);

// [-0, +0] Makes the coroutine held in anchor slot `holdSlot` the current
// one again (a nested call may have replaced it) and sets the flag.
void settleCurrent(lua_State* L, int holdSlot, int active);

// Clears the active-function flag when a call ends without settling it,
// by a Lua error or a host failure: a path the state machine does not
// name leaves no function behind to resume.
class SettlesOrClearsFlag {
 public:
  SettlesOrClearsFlag() = default;
  ~SettlesOrClearsFlag() {
    if (!settled_) engine::activeFunction = 0;
  }
  SettlesOrClearsFlag(const SettlesOrClearsFlag&) = delete;
  SettlesOrClearsFlag& operator=(const SettlesOrClearsFlag&) = delete;
  void settled() { settled_ = true; }

 private:
  bool settled_ = false;
};

}  // namespace vesko

#endif
