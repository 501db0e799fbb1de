// Where the plug-in keeps the Lua values it depends on, out of every
// script's reach.
//
// Scripts can rewrite the registry (debug.getregistry), the environments
// and upvalues of any function they can name, and even the temporaries of
// a running C function's frame (debug.setlocal).  What they cannot name is
// a thread that never runs and that only the bottom of the main stack
// holds: the anchor thread.  Its stack slots keep the current coroutine,
// the timestamp metatable, the call trampoline and every coroutine that a
// handler is working with.
//
// Invariant: slot 1 of the main stack, below every frame, holds the anchor
// thread from start-up to shutdown; nothing clears the main stack outside a
// protected call (handlers do all their Lua work inside one).
#ifndef VESKO_ENGINE_ANCHORS_H
#define VESKO_ENGINE_ANCHORS_H

struct lua_State;

namespace vesko::engine {

enum AnchorSlot {
  kCurrentCoroutineSlot = 1,
  kTimestampMetatableSlot = 2,
  kCallTrampolineSlot = 3,
  kProtectedStepsSlot = 4,    // made on first use (functions/call_boundary.cpp)
  kChunkCacheSlot = 5,        // made on first use (engine/chunk_cache.cpp)
  kTracebackHandlerSlot = 6,  // made at start-up (engine/traceback.cpp)
  kCollectionSlot = 7,        // made at start-up (engine/allocator.cpp)
  kFirstHoldSlot = 8,
};

// Coroutines held at once: deeper nesting than the interpreter allows for
// C calls never reaches this.
inline constexpr int kMaxHolds = 250;

// Values a call pushes from the anchor thread at once, above its holds.
inline constexpr int kAnchorPushRoom = 2;

// The anchor thread, from start-up to shutdown; null otherwise.
extern lua_State* anchors;

// After shutdown: no anchor thread.
void resetAnchors() noexcept;

// [-0, +0] Sizes the stack of `thread`, the new anchor thread, once for
// every slot, so that later pushes onto it never allocate, and makes it
// the anchor thread.  Runs inside start-up's protected call on L.
void prepareAnchors(lua_State* L, lua_State* thread);

// [-0, +1] Pushes the value of `slot` onto L.  L has room for one value.
void pushAnchored(lua_State* L, int slot);

// [-1, +0] Pops the value on top of L into `slot`.
void setAnchored(lua_State* L, int slot);

// Keeps a coroutine alive for as long as a handler works with it, even if
// nested calls release it as the current one.  Holds nest: each is
// released, in reverse order, when its handler ends.
class CoroutineHold {
 public:
  // [-1, +0] Takes the thread on top of L.  held() is false when the holds
  // are exhausted; the thread is popped either way.
  explicit CoroutineHold(lua_State* L);
  ~CoroutineHold();
  CoroutineHold(const CoroutineHold&) = delete;
  CoroutineHold& operator=(const CoroutineHold&) = delete;

  bool held() const { return slot_ != 0; }
  int slot() const { return slot_; }

 private:
  int slot_ = 0;
};

// Whether a handler is now working with `co` (preparing, running or
// finishing it).
bool isHeld(const lua_State* co);

}  // namespace vesko::engine

#endif
