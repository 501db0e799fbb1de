// Vesko_RunScript( luaScriptText {; arg...} ): runs Lua source text on the
// main state and answers its first result.
#include "engine/chunk_cache.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "functions/conversion.h"
#include "functions/external_functions.h"
#include "functions/guard.h"
#include "functions/protected_steps.h"
#include "functions/run_chunk.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

int16_t handleRunScript(int16_t, const FMExprEnv* env, const FMDataVect* parameters,
                        FMData* result) noexcept {
  return guardedSteps([&](lua_State*) -> int16_t {
    lua_State* L = beginMainRun();
    if (L == nullptr) return kFailed;
    const uint32_t count = host::vectSize(parameters);
    if (count == 0) return 0;

    const ArgumentText script = readArgumentText(parameters, 0);
    engine::EnvironmentScope scope(env);
    // The chunk is named by its own text, so messages quote its beginning.
    // The same text run again reuses the chunk compiled the first time.
    engine::ChunkLease lease;
    const int status = engine::loadScript(L, script.view(), &lease);
    if (status != 0) return failLoad(L, status, false);
    return runLoadedChunk(parameters, count, result, 0);
  });
}

}  // namespace vesko
