// Running a handler's Lua work inside a protected call.
//
// Lua code can run inside almost any step of a handler: a collection step
// during an allocation runs finalizers, an indexed read runs __index.  Such
// code can raise, and the interpreter is built as C++, so a Lua error is a
// C++ throw towards the innermost protected call.  Outside one, at the top
// level, it would end in the panic handler; inside a nested call (a script
// evaluating a calculation that calls us) it would unwind through the host
// into the outer script's pcall, or be swallowed by the guard and leave
// that pcall broken.  So every handler that touches the interpreter does
// all of its Lua work in one protected call on the main state: a Lua error
// there ends the call with the run status's code, and the guard only ever
// sees the host's own failures.
#ifndef VESKO_FUNCTIONS_PROTECTED_STEPS_H
#define VESKO_FUNCTIONS_PROTECTED_STEPS_H

#include <cstdint>

#include "functions/guard.h"

struct lua_State;

namespace vesko {

using StepsFunction = int16_t (*)(void* context, lua_State* L);

// Runs `steps` in a protected call on the main state (or directly when no
// interpreter runs, with L null).  Steps start on a frame of their own: the
// main stack they see is empty, and clearing it clears only that frame.
// A Lua error they raise is recorded by its run status ("3020" for a
// script's error) and answers -1; a host failure they raise is raised
// again, after the protected call, for the guard.
int16_t runProtectedSteps(StepsFunction steps, void* context);

// guarded(), with `body(L)` run as protected steps.
template <class Body>
int16_t guardedSteps(Body&& body) noexcept {
  return guarded([&]() -> int16_t {
    return runProtectedSteps(
        [](void* context, lua_State* L) -> int16_t { return (*static_cast<Body*>(context))(L); },
        &body);
  });
}

}  // namespace vesko

#endif
