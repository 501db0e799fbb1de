// The interpreter's allocator: small blocks from a pool of its own
// (small_blocks.h), larger ones from realloc and free, with an
// ceiling on the bytes the interpreter may hold at once.  The ceiling
// comes from the environment variable VESKO_LUA_MEMORY_LIMIT (a byte count,
// 0 for none) when the engine starts; without it, 1 GiB or a quarter of
// the machine's memory, whichever is less.  vesko.MemoryLimit changes it
// until the interpreter closes.  A script that needs more gets the
// interpreter's "not enough memory" error instead of exhausting the host's
// memory.
#ifndef VESKO_ENGINE_ALLOCATOR_H
#define VESKO_ENGINE_ALLOCATOR_H

#include <cstddef>

struct lua_State;

namespace vesko::engine {

// A new interpreter using this allocator, or null.
lua_State* newInterpreter();

// After shutdown: no usage, no failed allocation noted.  The next
// interpreter reads its ceiling anew.
void resetAllocator() noexcept;

// Whether the interpreter runs under a memory ceiling.
bool hasMemoryCeiling();

// The ceiling in bytes (0: none), and the bytes the interpreter holds now.
std::size_t memoryCeiling();
std::size_t memoryInUse();

// vesko.MemoryLimit([bytes]).  [-0, +1]
int memoryLimit(lua_State* L);

// The ceiling holds only inside protected calls, where running out of
// memory is an error the call catches: a handler's steps (which convert
// arguments and results, and may run any script's finalizer), each run they
// make, and the collection after a memory error.  Outside them (start-up,
// shutdown, a handler's own code around its steps) an error could not be
// caught, so no ceiling applies: a handler's body runs inside an
// UnprotectedWork scope and each protected call or resume inside a
// ProtectedRun scope.  Both put back what they found, so nested calls keep
// the outer call's setting.
class UnprotectedWork {
 public:
  UnprotectedWork();
  ~UnprotectedWork();
  UnprotectedWork(const UnprotectedWork&) = delete;
  UnprotectedWork& operator=(const UnprotectedWork&) = delete;

 private:
  bool outer_;
};

class ProtectedRun {
 public:
  ProtectedRun();
  ~ProtectedRun();
  ProtectedRun(const ProtectedRun&) = delete;
  ProtectedRun& operator=(const ProtectedRun&) = delete;

 private:
  bool outer_;
};

// After a call ran out of memory under the ceiling: collects everything
// the failed code left behind, so that the next call starts with what is
// really in use.  The chunk cache gives its chunks back first.  The
// collector of this interpreter never collects on its own when an
// allocation fails.  Finalizers run under the ceiling; one that raises is
// passed over quietly and the collection goes on.  Runs on the main state.
// [-0, +0]
void collectAfterMemoryError();

// [-0, +0] Makes the function collectAfterMemoryError calls; at start-up,
// after the anchors.
void prepareCollection(lua_State* L);

// Whether an allocation failed since the last collectAfterMemoryError,
// whether or not the error ended the call: a script may catch it (pcall)
// and go on, leaving the interpreter at the ceiling.
bool ranOutOfMemory();

}  // namespace vesko::engine

#endif
