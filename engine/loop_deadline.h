// Loops of the plug-in's own that can run long inside one C call, where no
// count hook ever runs, answer to the run's deadline every few thousand
// steps.  The time limit names the check as it watches a new interpreter;
// on an interpreter without one (the library's own tests) loops never stop.
#ifndef VESKO_ENGINE_LOOP_DEADLINE_H
#define VESKO_ENGINE_LOOP_DEADLINE_H

struct lua_State;

namespace vesko::engine {

// [-0, +0, e] Raises the time limit's error once the deadline has passed.
using DeadlineCheck = void (*)(lua_State* L);
inline DeadlineCheck deadlineCheck = nullptr;

class LoopDeadline {
 public:
  explicit LoopDeadline(lua_State* L) : L_(L) {}

  // One step of the loop.  [-0, +0, e]
  void step() {
    if (--countdown_ > 0) return;
    countdown_ = kStride;
    if (deadlineCheck != nullptr) deadlineCheck(L_);
  }

 private:
  static constexpr int kStride = 4096;
  lua_State* L_;
  int countdown_ = kStride;
};

}  // namespace vesko::engine

#endif
