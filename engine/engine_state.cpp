// The engine's fields, and the one list of resets that shutdown runs.
#include "engine/allocator.h"
#include "engine/anchors.h"
#include "engine/chunk_cache.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/figures.h"
#include "engine/time_limit.h"
#include "engine/traceback.h"
#include "lua.hpp"

namespace vesko::engine {

lua_State* mainState = nullptr;
lua_State* currentCoroutine = nullptr;
int activeFunction = 0;
const FMExprEnv* savedEnvironment = nullptr;
int callDepth = 0;

namespace {

// What the engine's own fields hold before any start-up.  The saved
// environment and the call depth belong to the calls now open (a host may
// shut down from inside one) and are put back by them.
void resetEngineFields() noexcept {
  mainState = nullptr;
  currentCoroutine = nullptr;
  activeFunction = 0;
}

// Every module that keeps state between calls, in one list: after
// shutdown each holds what it held before the first start-up.
constexpr void (*kResets[])() noexcept = {
    resetEngineFields, resetAnchors,   clearChunkCache,  resetTimeLimitRuns,
    resetTraceback,    resetAllocator, resetErrorRecord, resetFigures,
};

}  // namespace

void shutdown() {
  if (mainState == nullptr) return;
  clearChunkCache();  // before the interpreter that holds the chunks goes
  {
    // The finalizers closing runs are scripts' code: one that allocates
    // without end fails at the ceiling (closing passes over its error)
    // instead of taking the host's memory.
    ProtectedRun ceiling;
    lua_close(mainState);
  }
  for (auto reset : kResets) reset();
}

void setCurrentCoroutine(lua_State* L) {
  lua_State* thread = lua_tothread(L, -1);
  setAnchored(L, kCurrentCoroutineSlot);
  currentCoroutine = thread;
}

}  // namespace vesko::engine
