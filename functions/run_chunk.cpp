#include "functions/run_chunk.h"

#include "engine/error_record.h"
#include "functions/conversion.h"
#include "lua.hpp"

namespace vesko {

int16_t failLoad(lua_State* L, int status, bool fromFile) {
  setErrorFromLua(loadStatusCode(status, fromFile), L);
  return kFailed;
}

int16_t failArguments() {
  setError(Failure::kTooManyArguments);
  return kFailed;
}

int16_t runLoadedChunk(Call& call, uint32_t count, int16_t defaultCode) {
  lua_State* L = call.L;
  if (!pushArguments(L, call.parameters, count, 1)) return failArguments();
  {
    ScriptRun run(L);
    lua_call(L, static_cast<int>(count - 1), LUA_MULTRET);
  }
  clearError();  // a nested call may have written the record meanwhile
  return storeResult(L, call.parameters, call.result, defaultCode);
}

}  // namespace vesko
