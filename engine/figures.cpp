#include "engine/figures.h"

#include "engine/allocator.h"
#include "engine/chunk_cache.h"
#include "engine/engine.h"
#include "lua.hpp"

namespace vesko::engine {

Figures figures;

namespace {

// By function number.
constexpr const char* kFunctionNames[kExternalFunctionCount + 1] = {
    nullptr,         "Vesko_Version",      "Vesko_LastError", "Vesko_RunScript",
    "Vesko_RunFile", "Vesko_CallFunction", "Vesko_Timeout",   "Vesko_ResumeFunction",
};

// [-0, +0] Sets field `name` of the table on top to `value`.
void setNumber(lua_State* L, const char* name, double value) {
  lua_pushnumber(L, value);
  lua_setfield(L, -2, name);
}

// [-0, +0] Sets field `name` of the table on top to a table of the cache's
// figures.
void setCacheFigures(lua_State* L, const char* name, const ChunkCacheFigures& cache) {
  lua_createtable(L, 0, 5);
  setNumber(L, "cached", static_cast<double>(cache.entries));
  setNumber(L, "bytes", static_cast<double>(cache.bytes));
  setNumber(L, "hits", static_cast<double>(cache.hits));
  setNumber(L, "misses", static_cast<double>(cache.misses));
  setNumber(L, "evictions", static_cast<double>(cache.evictions));
  lua_setfield(L, -2, name);
}

}  // namespace

void resetFigures() noexcept {
  figures = {};
  resetChunkCacheFigures();
}

int stats(lua_State* L) {
  lua_createtable(L, 0, 7);
  setCacheFigures(L, "texts", textCacheFigures());
  setCacheFigures(L, "files", fileCacheFigures());

  lua_createtable(L, 0, 2);
  setNumber(L, "in_use", static_cast<double>(memoryInUse()));
  setNumber(L, "limit", static_cast<double>(memoryCeiling()));
  lua_setfield(L, -2, "memory");

  lua_createtable(L, 0, kExternalFunctionCount);
  for (int number = 1; number <= kExternalFunctionCount; ++number) {
    lua_createtable(L, 0, 2);
    setNumber(L, "calls", static_cast<double>(figures.functions[number].calls));
    setNumber(L, "failures", static_cast<double>(figures.functions[number].failures));
    lua_setfield(L, -2, kFunctionNames[number]);
  }
  lua_setfield(L, -2, "functions");

  setNumber(L, "stopped_by_time_limit", static_cast<double>(figures.timeLimitStops));
  setNumber(L, "nesting_depth", callDepth);
  return 1;
}

int clearCaches(lua_State*) {
  clearChunkCache();
  return 0;
}

}  // namespace vesko::engine
