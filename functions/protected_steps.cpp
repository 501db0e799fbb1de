#include "functions/protected_steps.h"

#include <exception>
#include <string>

#include "engine/allocator.h"
#include "engine/anchors.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/traceback.h"
#include "functions/conversion.h"
#include "lua.hpp"

namespace vesko {

namespace {

struct Steps {
  StepsFunction function;
  void* context;
  int16_t answer = kFailed;
  std::exception_ptr hostFailure;
};

// [-1, +0] The protected call's function: the one argument is the Steps.
// Only the host's failures are caught here; the interpreter's own
// unwinding passes on to the protected call.
int runSteps(lua_State* L) {
  auto* steps = static_cast<Steps*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  engine::HiddenFrame hidden(L);  // tracebacks show the script, not this frame
  try {
    steps->answer = steps->function(steps->context, L);
  } catch (const std::exception&) {
    steps->hostFailure = std::current_exception();
  }
  return 0;
}

// [-0, +0] After any allocation failed in the steps (in their own work,
// such as an __index the lookup runs, or in a script that caught the error
// and went on): what the failed code left goes now, so that the next call
// does not start at the ceiling.  The record is written by then.
void collectIfRanOut() {
  if (engine::ranOutOfMemory()) engine::collectAfterMemoryError();
}

}  // namespace

int16_t runProtectedSteps(StepsFunction function, void* context) {
  lua_State* L = engine::mainState;
  if (L == nullptr) return function(context, nullptr);
  Steps steps{function, context, kFailed, nullptr};
  const int top = lua_gettop(L);
  // The C function is made once and kept: lua_cpcall would make a new
  // closure on every call.
  engine::pushAnchored(L, engine::kProtectedStepsSlot);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    lua_pushcfunction(L, runSteps);
    lua_pushvalue(L, -1);
    engine::setAnchored(L, engine::kProtectedStepsSlot);
  }
  lua_pushlightuserdata(L, &steps);
  // A Lua error in the steps themselves (a failing __index while a name
  // is looked up, a finalizer while arguments convert) is noted with its
  // traceback like a run's.
  engine::pushTracebackHandler(L);
  lua_insert(L, top + 1);
  const int status = lua_pcall(L, 1, 0, top + 1);
  if (steps.hostFailure) {
    lua_settop(L, top);
    std::rethrow_exception(steps.hostFailure);
  }
  if (status == 0) {
    collectIfRanOut();
    return steps.answer;
  }
  // The error value is on top; recording it neither allocates nor runs Lua.
  setErrorFromLua(runStatusCode(status), L);
  std::string traceback = engine::takePendingTraceback();
  if (status == LUA_ERRRUN) setErrorTraceback(std::move(traceback));
  lua_settop(L, top);
  collectIfRanOut();
  return kFailed;
}

}  // namespace vesko
