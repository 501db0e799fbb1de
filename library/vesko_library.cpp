#include "library/vesko_library.h"

#include "engine/allocator.h"
#include "engine/figures.h"
#include "engine/time_limit.h"
#include "library/host_callbacks.h"
#include "library/text_functions.h"
#include "lua.hpp"

namespace vesko {

namespace {

const luaL_Reg kFunctions[] = {
    {"ExecuteSQL", executeSql},
    {"Evaluate", evaluateExpression},
    {"ScriptTime", engine::scriptTime},
    {"Stats", engine::stats},
    {"ClearCache", engine::clearCaches},
    {"MemoryLimit", engine::memoryLimit},
    {"damlevlim", damlevlim},
    {"fnv32a", fnv32a},
    {"md5", md5},
    {nullptr, nullptr},
};

}  // namespace

int openVeskoLibrary(lua_State* L) {
  luaL_register(L, "vesko", kFunctions);
  lua_pushstring(L, kLibraryVersion);
  lua_setfield(L, -2, "version");
  lua_pushstring(L, kPlatform);
  lua_setfield(L, -2, "platform");
  return 1;
}

}  // namespace vesko
