// Running the current coroutine for Vesko_CallFunction and
// Vesko_ResumeFunction.
//
// Nested calls.  A function running on a coroutine may evaluate a host
// calculation that calls Vesko_CallFunction again; that nested call makes
// a coroutine of its own current.  The outer call keeps its coroutine
// reachable while it runs, takes its result from that coroutine, and when
// it returns makes its coroutine current again, with the flag its own
// outcome gives: the outer call is the one whose result the calculation
// sees last.  A nested Vesko_ResumeFunction that would resume the very
// coroutine that is running (or one waiting on another) is refused with a
// run-time error instead.
#ifndef VESKO_FUNCTIONS_COROUTINE_RUN_H
#define VESKO_FUNCTIONS_COROUTINE_RUN_H

#include <cstdint>

#include "functions/conversion.h"
#include "api/fm_api.h"

struct lua_State;

namespace vesko {

// lua_resume of `co` with `nargs` arguments on its stack, after arming the
// time limit on it.  While it runs, `co` is held by a registry reference of
// its own, so no nested call can leave it collectable.  Answers the
// resume status.
int resumeCoroutine(lua_State* co, int nargs);

// Whether `co` is in the middle of running: it has active frames and is
// not suspended in a yield.
bool isRunning(lua_State* co);

// After resuming `co` with `status`: settles the active function and
// answers the external function's host error number.  A completed function
// stores its first result by `returned` (error record "0"), a yield stores
// the first yielded value by `yielded` (record 3200), and a failure records
// the run error and answers -1.  Nothing stored leaves `result` untouched.
int16_t finishResume(lua_State* co, int status, const FMDataVect* parameters, FMData* result,
                     StringRule returned, StringRule yielded);

// Makes `co` the current coroutine again (a nested call may have replaced
// it) and sets the active-function flag.
void settleCurrent(lua_State* co, int active);

}  // namespace vesko

#endif
