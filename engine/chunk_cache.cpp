#include "engine/chunk_cache.h"

#include <algorithm>
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

struct ChunkCacheEntry {
  std::string text;
  const void* function = nullptr;  // identity of the closure in the table
  int slot = 0;                    // its index in the table
  std::size_t bytes = 0;           // charged against kChunkCacheBytes
  int running = 0;                 // leases that run it now
  bool retired = false;            // no longer cached; deleted with its last lease
  ChunkCacheEntry* newer = nullptr;
  ChunkCacheEntry* older = nullptr;
};

namespace {

using Entry = ChunkCacheEntry;

// Invariants: every entry in `index` is in the recency list and owns one
// slot of the table, which holds its function there; `bytes` is the sum of
// their charges.  Retired entries are in neither.
struct Cache {
  lua_State* owner = nullptr;  // the interpreter whose anchor thread holds the table
  const void* table = nullptr;
  std::unordered_map<std::string_view, Entry*> index;  // keys view the entries' texts
  Entry* newest = nullptr;
  Entry* oldest = nullptr;
  std::vector<int> freeSlots;
  std::size_t bytes = 0;
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
  c.index.erase(e->text);
  unlink(c, e);
  c.freeSlots.push_back(e->slot);
  c.bytes -= e->bytes;
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

// Lets the least recently used entries that are not running go until
// `charge` more bytes and one more entry fit.
void makeRoom(lua_State* L, Cache& c, std::size_t charge) {
  Entry* e = c.oldest;
  while (e != nullptr && (c.index.size() >= kChunkCacheEntries || c.freeSlots.empty() ||
                          c.bytes + charge > kChunkCacheBytes)) {
    Entry* next = e->newer;
    if (e->running == 0) drop(L, c, e);
    e = next;
  }
}

// [-0, +0] Caches the function on top of the stack under `text`; answers
// its entry, counted as running, or null when it is not cached.
Entry* insert(lua_State* L, Cache& c, std::string_view text, std::size_t charge) {
  if (charge > kChunkCacheBytes / 4) return nullptr;  // one text may not crowd out the rest
  ensureTable(L, c);
  makeRoom(L, c, charge);
  if (c.freeSlots.empty() || c.bytes + charge > kChunkCacheBytes) return nullptr;
  auto* e = new Entry();
  try {
    e->text.assign(text);
    c.index.emplace(e->text, e);
  } catch (const std::bad_alloc&) {
    delete e;
    return nullptr;
  }
  e->slot = c.freeSlots.back();
  c.freeSlots.pop_back();
  e->function = lua_topointer(L, -1);
  e->bytes = charge;
  c.bytes += charge;
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
bool admit(Cache& c, std::string_view text) {
  const std::size_t hash = std::hash<std::string_view>{}(text) | 1;  // 0 marks nothing
  std::size_t& mark = c.seenOnce[hash % std::size(c.seenOnce)];
  if (mark == hash) {
    mark = 0;
    return true;
  }
  mark = hash;
  return false;
}

std::size_t interpreterBytes(lua_State* L) {
  return static_cast<std::size_t>(lua_gc(L, LUA_GCCOUNT, 0)) * 1024 +
         static_cast<std::size_t>(lua_gc(L, LUA_GCCOUNTB, 0));
}

}  // namespace

ChunkLease::~ChunkLease() {
  if (entry_ == nullptr) return;
  if (--entry_->running == 0 && entry_->retired) delete entry_;
}

int loadScript(lua_State* L, std::string_view text, ChunkLease* lease) {
  Cache& c = cache();
  if (c.owner != L) {
    forgetAll(c);
    c.owner = L;
  }
  // A calculation runs one text for record after record: the newest entry
  // is found without hashing the text.
  Entry* e = c.newest != nullptr && c.newest->text == text ? c.newest : nullptr;
  if (e == nullptr) {
    const auto found = c.index.find(text);
    if (found != c.index.end()) e = found->second;
  }
  bool runningElsewhere = false;
  if (e != nullptr) {
    runningElsewhere = e->running > 0;
    if (!runningElsewhere) {
      if (pushCached(L, c, e)) {
        if (c.newest != e) {
          unlink(c, e);
          linkNewest(c, e);
        }
        ++e->running;
        lease->entry_ = e;
        return 0;
      }
      // Changed behind our back: compiled afresh below.
      if (c.index.contains(text)) drop(L, c, e);
    }
  }

  // Decided before loading, so that a text that is not kept costs no
  // measuring; a text that fails to load is never kept in any case.
  const bool keep = !runningElsewhere && admit(c, text);
  const std::size_t before = keep ? interpreterBytes(L) : 0;
  int status = 0;
  {
    ProtectedRun run;  // a memory error here is the load's 3012
    status = luaL_loadbuffer(L, text.data(), text.size(), text.data());
  }
  if (status != 0 || !keep) return status;
  const std::size_t after = interpreterBytes(L);
  // What compiling took, but at least the chunk's name, a copy of the text
  // that an earlier compilation may have made already.
  const std::size_t compiled = std::max(after > before ? after - before : 0, text.size());
  const std::size_t charge = text.size() + sizeof(Entry) + compiled;
  lease->entry_ = insert(L, c, text, charge);
  return 0;
}

void clearChunkCache() noexcept {
  Cache& c = cache();
  forgetAll(c);
  std::fill(std::begin(c.seenOnce), std::end(c.seenOnce), 0);  // a new interpreter starts unseen
}

ChunkCacheUsage chunkCacheUsage() {
  const Cache& c = cache();
  return {c.index.size(), c.bytes};
}

}  // namespace vesko::engine
