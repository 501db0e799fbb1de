#include "functions/coroutine_run.h"

#include "engine/allocator.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/time_limit.h"
#include "functions/run_chunk.h"
#include "lua.hpp"

namespace vesko {

namespace {

// Holds a registry reference to a thread for as long as it lives.
class ThreadHold {
 public:
  explicit ThreadHold(lua_State* co) {
    lua_State* L = engine::mainState;
    lua_pushthread(co);
    lua_xmove(co, L, 1);
    ref_ = luaL_ref(L, LUA_REGISTRYINDEX);
  }
  ~ThreadHold() {
    if (engine::mainState != nullptr) luaL_unref(engine::mainState, LUA_REGISTRYINDEX, ref_);
  }
  ThreadHold(const ThreadHold&) = delete;
  ThreadHold& operator=(const ThreadHold&) = delete;

 private:
  int ref_;
};

}  // namespace

int resumeCoroutine(lua_State* co, int nargs) {
  ThreadHold hold(co);
  engine::TimedRun timed(co);
  engine::ProtectedRun run;
  return lua_resume(co, nargs);
}

bool isRunning(lua_State* co) {
  lua_Debug frame;
  return lua_status(co) == 0 && lua_getstack(co, 0, &frame) != 0;
}

int16_t finishResume(lua_State* co, int status, const FMDataVect* parameters, FMData* result,
                     StringRule returned, StringRule yielded) {
  if (status == 0) {
    settleCurrent(co, 0);
    clearError();  // a nested call may have written the record meanwhile
    if (lua_gettop(co) == 0) return 0;
    return storeValue(co, 1, result, parameters, returned, 0);
  }
  if (status == LUA_YIELD) {
    settleCurrent(co, 1);
    setError("3200", "Coroutine yielded.");
    if (lua_gettop(co) == 0) return 0;
    return storeValue(co, 1, result, parameters, yielded, 0);
  }
  settleCurrent(co, 0);
  return failRun(co, status);
}

void settleCurrent(lua_State* co, int active) {
  if (engine::currentCoroutine != co) {
    lua_pushthread(co);
    lua_xmove(co, engine::mainState, 1);
    engine::replaceCurrentCoroutine();
  }
  engine::activeFunction = active;
}

}  // namespace vesko
