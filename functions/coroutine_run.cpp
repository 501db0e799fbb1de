#include "functions/coroutine_run.h"

#include "engine/anchors.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/traceback.h"
#include "functions/call_boundary.h"
#include "lua.hpp"

namespace vesko {

bool moveCall(lua_State* L, lua_State* co, int n) {
  // Growing co's stack outside a protected call on it: only running out of
  // the process's memory fails, which the panic handler turns into a host
  // failure.
  if (!lua_checkstack(co, n + 1)) return false;
  lua_xmove(L, co, n + 1);
  return true;
}

int resumeCoroutine(lua_State* co, int nargs) {
  // A call nested in a running one (through vesko.Evaluate) counts its C
  // calls on from the thread that made it, as coroutine.resume does, so
  // nesting cannot reset the interpreter's limit.
  if (lua_State* from = engine::runningThread()) lua_setlevel(from, co);
  ScriptRun run(co);
  return lua_resume(co, nargs);
}

bool isRunning(lua_State* co) {
  lua_Debug frame;
  return lua_status(co) == 0 && lua_getstack(co, 0, &frame) != 0;
}

bool hasEnded(lua_State* co) {
  const int status = lua_status(co);
  return status != LUA_YIELD && (status != 0 || lua_gettop(co) == 0);
}

int16_t finishResume(lua_State* L, int holdSlot, int status, const FMDataVect* parameters,
                     FMData* result, StringRule returned, StringRule yielded) {
  lua_State* co = lua_tothread(engine::anchors, holdSlot);
  if (status == 0 || status == LUA_YIELD) {
    // Only the first value counts; the others are dropped now rather than
    // when the function is resumed.
    const bool any = lua_gettop(co) > 0;
    if (any) {
      lua_settop(co, 1);
      lua_xmove(co, L, 1);
    }
    if (status == 0) {
      settleCurrent(L, holdSlot, 0);
      clearError();  // a nested call may have written the record meanwhile
    } else {
      settleCurrent(L, holdSlot, 1);
      setError(Failure::kYielded);
    }
    if (!any) return 0;
    return storeValue(L, lua_gettop(L), result, parameters, status == 0 ? returned : yielded, 0);
  }
  engine::captureTraceback(co, 0);  // a failed coroutine keeps its frames
  lua_xmove(co, L, 1);
  // What the failed frame held is garbage now; the dead coroutine stays
  // current until the next call, so it must not keep it.
  lua_settop(co, 0);
  settleCurrent(L, holdSlot, 0);
  recordRunFailure(L, status);
  return kFailed;
}

void settleCurrent(lua_State* L, int holdSlot, int active) {
  if (engine::currentCoroutine != lua_tothread(engine::anchors, holdSlot)) {
    engine::pushAnchored(L, holdSlot);
    engine::setCurrentCoroutine(L);
  }
  engine::activeFunction = active;
}

}  // namespace vesko
