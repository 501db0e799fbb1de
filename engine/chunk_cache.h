// Compiled chunks of the script texts Vesko_RunScript ran lately, kept so
// that a calculation running the same text record after record compiles it
// once.
//
// A chunk from the cache behaves exactly like a freshly loaded one: it has
// the same name (its text) and so the same messages, and its environment is
// set back to the globals table before every run, so a setfenv(1, ...) in
// one run never reaches the next.  Only chunks that loaded are kept.
//
// A chunk is kept from its text's second run on, while the first run is
// still remembered: a text that is run only once never takes a place.
//
// The cache is bounded by entry count and by bytes (the text plus what
// compiling it took from the interpreter) and lets the least recently used
// entry go first.  A chunk that is running (a nested call may run the same
// text while the outer run still goes) is never handed out a second time:
// the nested run gets a fresh copy, so that resetting the environment of
// one run cannot touch the other.  Nor is a running entry evicted; the
// running closure is held by the call that runs it in any case.
//
// The functions live in a table on the anchor thread (engine/anchors.h),
// out of every script's reach.  A script can still get hold of the chunk
// it runs as (debug.getinfo) and change its environment, which the next
// run sets back.  Every use checks the table and the function by identity
// all the same, and anything found changed is treated as a miss.
#ifndef VESKO_ENGINE_CHUNK_CACHE_H
#define VESKO_ENGINE_CHUNK_CACHE_H

#include <cstddef>
#include <string_view>

struct lua_State;

namespace vesko::engine {

struct ChunkCacheEntry;

inline constexpr std::size_t kChunkCacheEntries = 500;
inline constexpr std::size_t kChunkCacheBytes = 4u << 20;

// A chunk handed out for one run: its entry counts as running until the
// lease ends.  Ends with the handler, after the run and its result.
class ChunkLease {
 public:
  ChunkLease() = default;
  ~ChunkLease();
  ChunkLease(const ChunkLease&) = delete;
  ChunkLease& operator=(const ChunkLease&) = delete;

 private:
  friend int loadScript(lua_State* L, std::string_view text, ChunkLease* lease);
  ChunkCacheEntry* entry_ = nullptr;
};

// [-0, +1] Pushes the chunk of `text` (which holds no NUL), compiled now or
// earlier, as luaL_loadbuffer would with the text as the chunk's name; on a
// load failure pushes the error value instead.  Answers the load status.
// Loading runs under the memory ceiling; a failure to make room for the
// cache entry only leaves the chunk uncached.
int loadScript(lua_State* L, std::string_view text, ChunkLease* lease);

// Forgets every chunk; the interpreter that held them is closed or about
// to be.  Running entries go when their lease ends.
void clearChunkCache() noexcept;

// Entries kept and the bytes they are charged with.
struct ChunkCacheUsage {
  std::size_t entries = 0;
  std::size_t bytes = 0;
};
ChunkCacheUsage chunkCacheUsage();

}  // namespace vesko::engine

#endif
