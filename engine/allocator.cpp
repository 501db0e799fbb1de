#include "engine/allocator.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "engine/chunk_cache.h"
#include "engine/anchors.h"
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

// Without a setting, a ceiling that protects the host: 1 GiB, or a quarter
// of the machine's memory when that is less.
std::size_t defaultLimit() {
  constexpr std::size_t kDefaultLimit = std::size_t{1} << 30;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return kDefaultLimit;
  const double quarter = static_cast<double>(pages) * static_cast<double>(pageSize) / 4;
  return quarter < kDefaultLimit ? static_cast<std::size_t>(quarter) : kDefaultLimit;
}

// VESKO_LUA_MEMORY_LIMIT: a byte count, 0 for none; anything else, or
// nothing, leaves the default.
std::size_t limitFromEnvironment() {
  const char* text = std::getenv("VESKO_LUA_MEMORY_LIMIT");
  if (text == nullptr || *text < '0' || *text > '9') return defaultLimit();
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || errno != 0) return defaultLimit();
  return static_cast<std::size_t>(value);
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

// Attempts at one collection: each finalizer that fails ends an attempt,
// and the next goes on with the finalizers after it.
constexpr int kMostCollectionAttempts = 64;

// The least a new ceiling leaves above what is in use: enough to compile
// and run the call that raises it again.
constexpr std::size_t kLeastHeadroom = std::size_t{1} << 20;

}  // namespace

void prepareCollection(lua_State* L) {
  lua_pushcfunction(L, collectAll);
  setAnchored(L, kCollectionSlot);
}

void collectAfterMemoryError() {
  lua_State* L = mainState;
  if (L == nullptr) return;
  // The finalizers this runs are scripts' code: what they allocate answers
  // to the ceiling like any other script's allocation, or one could keep
  // memory above it that no later call could ever free.
  // The collecting function was made at start-up: at the ceiling, even a
  // new closure to call could fail.
  releaseChunkCache();
  ProtectedRun limited;
  for (int attempt = 0; attempt < kMostCollectionAttempts; ++attempt) {
    pushAnchored(L, kCollectionSlot);
    if (lua_pcall(L, 0, 0, 0) == 0) break;
    lua_pop(L, 1);
  }
  usage.ranOut = false;
}

// vesko.MemoryLimit([bytes]): [-0, +1] the ceiling in bytes (0: none),
// after setting it when `bytes` is given.  A ceiling too close to what is
// in use, after a full collection, is refused: the interpreter could not
// even run the call that raises it again.
int memoryLimit(lua_State* L) {
  if (!lua_isnoneornil(L, 1)) {
    const double bytes = luaL_checknumber(L, 1);
    if (!(bytes >= 0 && bytes < 0x1p53)) return luaL_argerror(L, 1, "out of range");
    const auto limit = static_cast<std::size_t>(bytes);
    // A cycle gives back only half of the interpreter's concatenation
    // buffer: a few more while they still free memory.
    for (int cycle = 0; cycle < 8 && limit != 0 && limit < usage.held + kLeastHeadroom; ++cycle) {
      const std::size_t before = usage.held;
      lua_gc(L, LUA_GCCOLLECT, 0);
      if (usage.held >= before) break;
    }
    if (limit != 0 && limit < usage.held + kLeastHeadroom) {
      return luaL_error(L,
                        "memory limit %f is too low: %f bytes are in use, and the limit must be "
                        "at least 1 MiB above them",
                        bytes, static_cast<double>(usage.held));
    }
    usage.limit = limit;
  }
  lua_pushnumber(L, static_cast<double>(usage.limit));
  return 1;
}

}  // namespace vesko::engine
