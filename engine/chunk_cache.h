// Compiled chunks of the script texts Vesko_RunScript ran lately and of the
// files Vesko_RunFile ran, kept so that a calculation running the same text
// or file record after record compiles it once.
//
// A chunk from the cache behaves exactly like a freshly loaded one: it has
// the same name (its text, or "@path") and so the same messages, and its
// environment is set back to the globals table before every run, so a
// setfenv(1, ...) in one run never reaches the next.  Only chunks that
// loaded are kept.
//
// A text's chunk is kept from its second run on, while the first run is
// still remembered: a text that is run only once never takes a place.  A
// file's chunk is kept from its first run (a path names the same script
// from run to run, unlike a text made anew for each record), but only once
// its modification time is a few seconds old: a file written twice within
// the file system's clock tick could otherwise keep its time and size and
// still change.  Before a file's chunk is used again, the device, inode,
// size, modification and status change times of the path must match those
// of the descriptor it was compiled from.
//
// Texts and files share one bound by entry count and by bytes (the key plus
// what compiling took from the interpreter) and let the least recently used
// entry go first.  Under a memory ceiling the cache takes at most a quarter
// of it, keeps nothing while the interpreter is above it, and gives all
// back when a run runs out of memory.  A chunk that is running (a nested
// call may run the same text while the outer run still goes) is never
// handed out a second time: the nested run gets a fresh copy, so that
// resetting the environment of one run cannot touch the other.  Nor is a
// running entry evicted; the running closure is held by the call that runs
// it in any case.
//
// The functions live in a table on the anchor thread (engine/anchors.h),
// out of every script's reach.  A script can still get hold of the chunk
// it runs as (debug.getinfo) and change its environment, which the next
// run sets back.  Every use checks the table and the function by identity
// all the same, and anything found changed is treated as a miss.
#ifndef VESKO_ENGINE_CHUNK_CACHE_H
#define VESKO_ENGINE_CHUNK_CACHE_H

#include <cstddef>
#include <cstdint>
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
  friend struct ChunkCacheAccess;
  ChunkCacheEntry* entry_ = nullptr;
};

// [-0, +1] Pushes the chunk of `text` (which holds no NUL), compiled now or
// earlier, as luaL_loadbuffer would with the text as the chunk's name; on a
// load failure pushes the error value instead.  A NUL must follow the view
// (text.data()[text.size()] == '\0', as with a std::string or an
// ArgumentText): the name is the text itself, read up to its NUL, so the
// chunk name costs no copy of the script.  Answers the load status.
// Loading runs under the memory ceiling; a failure to make room for the
// cache entry only leaves the chunk uncached.
int loadScript(lua_State* L, std::string_view text, ChunkLease* lease);

// Which contents of a file a chunk was compiled from, as fstat tells it.
struct FileVersion {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;
  // The status change time, which no one can set back: a file made anew
  // with the same size and modification time, perhaps with its inode
  // number reused, still differs in it.
  std::int64_t changedSeconds = 0;
  std::int64_t changedNanoseconds = 0;
  bool operator==(const FileVersion&) const = default;
};

// Compiles a file's chunk: [-0, +1] pushes the chunk or the error value and
// answers the load status, under the memory ceiling.  Sets *version to
// that of the contents it read, which may be newer than the one asked for.
using FileLoader = int (*)(lua_State* L, void* context, FileVersion* version);

// [-0, +1] Pushes the chunk kept for the file at `path` when it was compiled
// from `version`; otherwise runs `load` and keeps what it compiled, under
// the version it read.  Answers the load status.
int loadFile(lua_State* L, std::string_view path, const FileVersion& version, FileLoader load,
             void* context, ChunkLease* lease);

// Forgets every chunk, also while one of them runs (it goes when its lease
// ends).  With the interpreter still open, its table goes too, so the
// collector can free the chunks.  [-0, +0]
void clearChunkCache() noexcept;

// After a run ran out of memory: gives back every chunk that is not
// running, counted as evicted.  [-0, +0]
void releaseChunkCache() noexcept;

// What the cache holds and has done since the interpreter started.
struct ChunkCacheFigures {
  std::size_t entries = 0;
  std::size_t bytes = 0;
  std::uint64_t hits = 0;
  std::uint64_t misses = 0;
  std::uint64_t evictions = 0;
};
ChunkCacheFigures textCacheFigures();
ChunkCacheFigures fileCacheFigures();

// Starts the figures again, with a new interpreter.
void resetChunkCacheFigures() noexcept;

}  // namespace vesko::engine

#endif
