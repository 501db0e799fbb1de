#include "engine/chunk_cache.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/allocator.h"
#include "engine/anchors.h"
#include "lua.hpp"

namespace vesko::engine {

namespace {

enum Kind { kText = 0, kFile = 1, kKinds = 2 };

}  // namespace

struct ChunkCacheEntry {
  std::string key;  // the text, or the file's path
  Kind kind = kText;
  FileVersion version;             // a file's; zero for a text
  const void* function = nullptr;  // identity of the closure in the table
  int slot = 0;                    // its index in the table
  std::size_t bytes = 0;           // charged against the cache's bound
  int running = 0;                 // leases that run it now
  bool retired = false;            // no longer cached; deleted with its last lease
  ChunkCacheEntry* newer = nullptr;
  ChunkCacheEntry* older = nullptr;
};

struct ChunkCacheAccess {
  static void lease(ChunkLease* lease, ChunkCacheEntry* e) { lease->entry_ = e; }
};

namespace {

using Entry = ChunkCacheEntry;

// Invariants: every entry in an index is in the recency list and owns one
// slot of the table, which holds its function there; `bytes` is the sum of
// their charges, and each kind's figures count its own.  Retired entries
// are in neither.
struct Cache {
  lua_State* owner = nullptr;  // the interpreter whose anchor thread holds the table
  const void* table = nullptr;
  // By kind; keys view the entries' own keys.
  std::unordered_map<std::string_view, Entry*> index[kKinds];
  Entry* newest = nullptr;
  Entry* oldest = nullptr;
  std::vector<int> freeSlots;
  std::size_t bytes = 0;
  ChunkCacheFigures figures[kKinds];
  // Hashes of texts compiled once lately and not kept, a slot per few bits
  // of the hash; a later text with the same bits takes the slot over.
  std::size_t seenOnce[512] = {};

  Cache() = default;
  ~Cache();  // at unload: frees the entries, without touching any interpreter
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;
};
Cache& cache() {
  static Cache made;
  return made;
}

// A file modified this recently may change again within the same clock
// tick of its file system, keeping its time and size: it is not kept yet.
constexpr std::int64_t kSettledSeconds = 2;

void unlink(Cache& c, Entry* e) {
  (e->newer != nullptr ? e->newer->older : c.newest) = e->older;
  (e->older != nullptr ? e->older->newer : c.oldest) = e->newer;
  e->newer = e->older = nullptr;
}

void linkNewest(Cache& c, Entry* e) {
  e->older = c.newest;
  e->newer = nullptr;
  (c.newest != nullptr ? c.newest->newer : c.oldest) = e;
  c.newest = e;
}

// Takes `e` out of the cache's bookkeeping; deleted unless it is running.
void retire(Cache& c, Entry* e) {
  c.index[e->kind].erase(e->key);
  unlink(c, e);
  c.freeSlots.push_back(e->slot);
  c.bytes -= e->bytes;
  ChunkCacheFigures& figures = c.figures[e->kind];
  --figures.entries;
  figures.bytes -= e->bytes;
  if (e->running > 0) {
    e->retired = true;
  } else {
    delete e;
  }
}

void forgetAll(Cache& c) noexcept {
  while (c.oldest != nullptr) retire(c, c.oldest);
  c.table = nullptr;
  c.owner = nullptr;
}

Cache::~Cache() {
  forgetAll(*this);
}

// [-0, +(0|1)] Pushes the cache's table when it is still the one made;
// otherwise forgets every entry and pushes nothing.
bool pushTable(lua_State* L, Cache& c) {
  if (c.table == nullptr) return false;
  pushAnchored(L, kChunkCacheSlot);
  if (lua_type(L, -1) == LUA_TTABLE && lua_topointer(L, -1) == c.table) return true;
  lua_pop(L, 1);
  forgetAll(c);
  return false;
}

// [-0, +0] Empties the table slot of an entry that is dropped.
void clearSlot(lua_State* L, Cache& c, int slot) {
  if (!pushTable(L, c)) return;
  lua_pushnil(L);
  lua_rawseti(L, -2, slot);
  lua_pop(L, 1);
}

void drop(lua_State* L, Cache& c, Entry* e) {
  const int slot = e->slot;
  retire(c, e);
  clearSlot(L, c, slot);
}

// [-0, +(0|1)] Pushes the cached function of `e`, its environment set back
// to the globals table, when table and function are still ours.
bool pushCached(lua_State* L, Cache& c, Entry* e) {
  if (c.table == nullptr) return false;
  // Read where the table is, on the anchor thread, which always has room
  // for one value more than its holds.
  lua_State* A = anchors;
  if (lua_type(A, kChunkCacheSlot) != LUA_TTABLE || lua_topointer(A, kChunkCacheSlot) != c.table) {
    forgetAll(c);
    return false;
  }
  lua_rawgeti(A, kChunkCacheSlot, e->slot);
  if (lua_type(A, -1) != LUA_TFUNCTION || lua_topointer(A, -1) != e->function) {
    lua_pop(A, 1);
    return false;
  }
  lua_xmove(A, L, 1);
  lua_pushvalue(L, LUA_GLOBALSINDEX);
  lua_setfenv(L, -2);
  return true;
}

// [-0, +0] Makes the table, preallocated for every slot so that storing a
// function never allocates.
void ensureTable(lua_State* L, Cache& c) {
  if (c.table != nullptr) return;
  c.freeSlots.clear();
  for (int slot = static_cast<int>(kChunkCacheEntries); slot >= 1; --slot)
    c.freeSlots.push_back(slot);
  lua_createtable(L, static_cast<int>(kChunkCacheEntries), 0);
  c.table = lua_topointer(L, -1);
  setAnchored(L, kChunkCacheSlot);
}

// The bytes the cache may be charged with: a small share of a ceiling.
std::size_t byteBound() {
  const std::size_t ceiling = memoryCeiling();
  return ceiling == 0 ? kChunkCacheBytes : std::min(kChunkCacheBytes, ceiling / 4);
}

// Lets the least recently used entries that are not running go until
// `charge` more bytes and one more entry fit.
void makeRoom(lua_State* L, Cache& c, std::size_t charge) {
  const std::size_t bound = byteBound();
  Entry* e = c.oldest;
  while (e != nullptr && (c.index[kText].size() + c.index[kFile].size() >= kChunkCacheEntries ||
                          c.freeSlots.empty() || c.bytes + charge > bound)) {
    Entry* next = e->newer;
    if (e->running == 0) {
      ++c.figures[e->kind].evictions;
      drop(L, c, e);
    }
    e = next;
  }
}

// [-0, +0] Caches the function on top of the stack under `key`; answers
// its entry, counted as running, or null when it is not cached.
Entry* insert(lua_State* L, Cache& c, Kind kind, std::string_view key, const FileVersion& version,
              std::size_t charge) {
  // One chunk may not crowd out the rest, and none is kept above a ceiling.
  if (charge > byteBound() / 4) return nullptr;
  if (memoryCeiling() != 0 && memoryInUse() > memoryCeiling()) return nullptr;
  // Code that ran while loading (a finalizer) may have kept the same key.
  if (c.index[kind].contains(key)) return nullptr;
  ensureTable(L, c);
  makeRoom(L, c, charge);
  if (c.freeSlots.empty() || c.bytes + charge > byteBound()) return nullptr;
  auto* e = new (std::nothrow) Entry();
  if (e == nullptr) return nullptr;
  try {
    e->key.assign(key);
    c.index[kind].emplace(e->key, e);
  } catch (const std::bad_alloc&) {
    delete e;
    return nullptr;
  }
  e->kind = kind;
  e->version = version;
  e->slot = c.freeSlots.back();
  c.freeSlots.pop_back();
  e->function = lua_topointer(L, -1);
  e->bytes = charge;
  c.bytes += charge;
  ++c.figures[kind].entries;
  c.figures[kind].bytes += charge;
  linkNewest(c, e);
  pushTable(L, c);
  lua_pushvalue(L, -2);
  lua_rawseti(L, -2, e->slot);
  lua_pop(L, 1);
  ++e->running;
  return e;
}

// Whether to keep the chunk of `text`, just compiled: only when the text
// comes back while the mark of its first compilation is still there.  A
// text run once (a script made anew for every record) is then never kept,
// and never pushes out the texts that do come back.
bool admitText(Cache& c, std::string_view text) {
  const std::size_t hash = std::hash<std::string_view>{}(text) | 1;  // 0 marks nothing
  std::size_t& mark = c.seenOnce[hash % std::size(c.seenOnce)];
  if (mark == hash) {
    mark = 0;
    return true;
  }
  mark = hash;
  return false;
}

bool settled(const FileVersion& version) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t seconds = now.tv_sec - version.modifiedSeconds;
  return seconds > kSettledSeconds ||
         (seconds == kSettledSeconds && now.tv_nsec >= version.modifiedNanoseconds);
}

std::size_t interpreterBytes(lua_State* L) {
  return static_cast<std::size_t>(lua_gc(L, LUA_GCCOUNT, 0)) * 1024 +
         static_cast<std::size_t>(lua_gc(L, LUA_GCCOUNTB, 0));
}

struct Request {
  Kind kind;
  std::string_view key;
  FileVersion version;  // zero for a text; a file's is set again by its loading
  FileLoader load;
  void* context;
  std::size_t leastCompiled;  // charged at least: the source's size
};

// [-0, +1] The one way in for texts and files: hands out the kept chunk,
// or compiles and perhaps keeps it.
int loadKept(lua_State* L, Request& request, ChunkLease* lease) {
  Cache& c = cache();
  if (c.owner != L) {
    forgetAll(c);
    c.owner = L;
  }
  auto& index = c.index[request.kind];
  ChunkCacheFigures& figures = c.figures[request.kind];
  // A calculation runs one text for record after record: the newest entry
  // is found without hashing the key.
  Entry* e = c.newest != nullptr && c.newest->kind == request.kind && c.newest->key == request.key
                 ? c.newest
                 : nullptr;
  if (e == nullptr) {
    const auto found = index.find(request.key);
    if (found != index.end()) e = found->second;
  }
  bool runningElsewhere = false;
  if (e != nullptr) {
    runningElsewhere = e->running > 0;
    if (!runningElsewhere) {
      if (e->version == request.version && pushCached(L, c, e)) {
        if (c.newest != e) {
          unlink(c, e);
          linkNewest(c, e);
        }
        ++e->running;
        ChunkCacheAccess::lease(lease, e);
        ++figures.hits;
        return 0;
      }
      // A changed file, or changed behind our back: compiled afresh below.
      // (pushCached forgets every entry when the table is not ours.)
      if (index.contains(request.key)) drop(L, c, e);
    }
  }
  ++figures.misses;

  // Decided before loading, so that a chunk that is not kept costs no
  // measuring; a chunk that fails to load is never kept in any case.  A
  // file's version is the one its loading read.
  const bool measure = !runningElsewhere && (request.kind == kFile || admitText(c, request.key));
  const std::size_t before = measure ? interpreterBytes(L) : 0;
  const int status = request.load(L, request.context, &request.version);
  if (status != 0 || !measure || (request.kind == kFile && !settled(request.version)))
    return status;
  const std::size_t after = interpreterBytes(L);
  // What compiling took, but at least the source's size: a text's chunk
  // name is a copy of it that an earlier compilation may have made.
  const std::size_t compiled = std::max(after > before ? after - before : 0, request.leastCompiled);
  const std::size_t charge = request.key.size() + sizeof(Entry) + compiled;
  ChunkCacheAccess::lease(lease, insert(L, c, request.kind, request.key, request.version, charge));
  return 0;
}

struct TextSource {
  std::string_view text;
};

// [-0, +1]
int loadText(lua_State* L, void* context, FileVersion*) {
  const std::string_view text = static_cast<TextSource*>(context)->text;
  ProtectedRun run;  // a memory error here is the load's 3012
  // The name is read up to the NUL that follows the view (chunk_cache.h).
  return luaL_loadbuffer(L, text.data(), text.size(), text.data());
}

}  // namespace

ChunkLease::~ChunkLease() {
  if (entry_ == nullptr) return;
  if (--entry_->running == 0 && entry_->retired) delete entry_;
}

int loadScript(lua_State* L, std::string_view text, ChunkLease* lease) {
  TextSource source{text};
  Request request{kText, text, {}, loadText, &source, text.size()};
  return loadKept(L, request, lease);
}

int loadFile(lua_State* L, std::string_view path, const FileVersion& version, FileLoader load,
             void* context, ChunkLease* lease) {
  const auto size = static_cast<std::size_t>(std::max<std::int64_t>(version.size, 0));
  Request request{kFile, path, version, load, context, size};
  return loadKept(L, request, lease);
}

void clearChunkCache() noexcept {
  Cache& c = cache();
  if (c.table != nullptr && anchors != nullptr && c.owner != nullptr) {
    lua_pushnil(anchors);
    lua_replace(anchors, kChunkCacheSlot);
  }
  forgetAll(c);
  std::fill(std::begin(c.seenOnce), std::end(c.seenOnce), 0);  // as a new interpreter starts
}

void releaseChunkCache() noexcept {
  Cache& c = cache();
  for (ChunkCacheFigures& figures : c.figures) figures.evictions += figures.entries;
  clearChunkCache();
}

ChunkCacheFigures textCacheFigures() {
  return cache().figures[kText];
}

ChunkCacheFigures fileCacheFigures() {
  return cache().figures[kFile];
}

void resetChunkCacheFigures() noexcept {
  for (ChunkCacheFigures& figures : cache().figures) figures = {};
}

}  // namespace vesko::engine
