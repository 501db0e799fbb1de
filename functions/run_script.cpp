// Vesko_RunScript( luaScriptText {; arg...} ): runs Lua source text on the
// main state and answers its first result.
#include "engine/chunk_cache.h"
#include "functions/conversion.h"
#include "functions/external_functions.h"
#include "functions/run_chunk.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

int16_t runScript(Call& call) {
  lua_State* L = call.L;
  if (L == nullptr) return kFailed;
  const uint32_t count = host::vectSize(call.parameters);
  if (count == 0) return 0;

  const ArgumentText script = readArgumentText(call.parameters, 0);
  // The chunk is named by its own text, so messages quote its beginning.
  // The same text run again reuses the chunk compiled the first time.
  engine::ChunkLease lease;
  const int status = engine::loadScript(L, script.view(), &lease);
  if (status != 0) return failLoad(L, status, false);
  return runLoadedChunk(call, count, 0);
}

}  // namespace vesko
