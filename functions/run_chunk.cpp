#include "functions/run_chunk.h"

#include "engine/allocator.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/time_limit.h"
#include "functions/conversion.h"
#include "functions/guard.h"
#include "lua.hpp"

namespace vesko {

int16_t failLoad(lua_State* L, int status, bool fromFile) {
  setErrorFromLua(loadStatusCode(status, fromFile), L);
  if (status == LUA_ERRMEM) engine::collectAfterMemoryError();
  return kFailed;
}

int16_t failRun(lua_State* L, int status) {
  setErrorFromLua(runStatusCode(status), L);
  if (status == LUA_ERRMEM) engine::collectAfterMemoryError();
  return kFailed;
}

int16_t failArguments() {
  setError("3020", "Too many arguments for the Lua stack.");
  return kFailed;
}

lua_State* beginMainRun() {
  clearError();
  lua_State* L = engine::mainState;
  if (L != nullptr) lua_settop(L, 0);
  return L;
}

int16_t runLoadedChunk(const FMDataVect* parameters, uint32_t count, FMData* result,
                       int16_t defaultCode) {
  lua_State* L = engine::mainState;
  if (!pushArguments(L, parameters, count, 1)) return failArguments();
  int status = 0;
  {
    engine::TimedRun timed(L);
    engine::ProtectedRun run;
    status = lua_pcall(L, static_cast<int>(count - 1), LUA_MULTRET, 0);
  }
  if (status != 0) return failRun(L, status);
  clearError();
  return storeResult(L, parameters, result, defaultCode);
}

}  // namespace vesko
