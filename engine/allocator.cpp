#include "engine/allocator.h"

#include <cstdlib>

#include "engine/chunk_cache.h"
#include "engine/engine.h"
#include "engine/small_blocks.h"
#include "lua.hpp"

namespace vesko::engine {

namespace {

struct Usage {
  std::size_t limit = 0;  // 0: none
  std::size_t held = 0;   // bytes in blocks the interpreter holds
  // Only ProtectedRun scopes apply the ceiling: start-up and shutdown never
  // run under it, so the interpreter is always built whole.
  bool protectedRun = false;
  // An allocation failed since the last collectAfterMemoryError; a script
  // may have caught the error and gone on.
  bool ranOut = false;
};
// One interpreter at a time; its usage starts at zero with it.
Usage usage;

void* allocate(void* ud, void* block, std::size_t oldSize, std::size_t newSize) {
  auto* u = static_cast<Usage*>(ud);
  if (newSize == 0) {
    freeBlock(block, oldSize);
    u->held -= oldSize;
    if (u->held == 0) releaseBlocks();  // the interpreter is closed
    return nullptr;
  }
  // A block that shrinks never fails: the interpreter relies on it.
  if (u->limit != 0 && u->protectedRun && newSize > oldSize &&
      u->held - oldSize + newSize > u->limit) {
    u->ranOut = true;
    return nullptr;
  }
  void* grown = resizeBlock(block, oldSize, newSize);
  if (grown != nullptr) {
    u->held = u->held - oldSize + newSize;
  } else {
    u->ranOut = true;
  }
  return grown;
}

std::size_t limitFromEnvironment() {
  const char* text = std::getenv("VESKO_LUA_MEMORY_LIMIT");
  if (text == nullptr) return 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return end != text && *end == '\0' ? static_cast<std::size_t>(value) : 0;
}

}  // namespace

lua_State* newInterpreter() {
  usage.limit = limitFromEnvironment();
  usage.held = 0;
  return lua_newstate(allocate, &usage);
}

void resetAllocator() noexcept {
  usage.limit = 0;
  usage.held = 0;
  usage.ranOut = false;
}

bool hasMemoryCeiling() {
  return usage.limit != 0;
}

std::size_t memoryCeiling() {
  return usage.limit;
}

std::size_t memoryInUse() {
  return usage.held;
}

bool ranOutOfMemory() {
  return usage.ranOut;
}

UnprotectedWork::UnprotectedWork() : outer_(usage.protectedRun) {
  usage.protectedRun = false;
}
UnprotectedWork::~UnprotectedWork() {
  usage.protectedRun = outer_;
}

ProtectedRun::ProtectedRun() : outer_(usage.protectedRun) {
  usage.protectedRun = true;
}
ProtectedRun::~ProtectedRun() {
  usage.protectedRun = outer_;
}

namespace {

// [-0, +0]
int collectAll(lua_State* L) {
  lua_gc(L, LUA_GCCOLLECT, 0);
  return 0;
}

}  // namespace

void collectAfterMemoryError() {
  lua_State* L = mainState;
  if (L == nullptr) return;
  usage.ranOut = false;
  releaseChunkCache();
  UnprotectedWork unlimited;
  if (lua_cpcall(L, collectAll, nullptr) != 0) lua_pop(L, 1);
}

}  // namespace vesko::engine
