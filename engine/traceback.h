// The Lua traceback of a run-time error, captured where the error was
// raised, for Vesko_LastError("traceback").
//
// On the main thread a protected call unwinds the stack before it returns,
// so the run functions call with tracebackHandler as message handler: it
// notes the stack and leaves the error value as it is.  A failed coroutine
// keeps its stack, so it is read after lua_resume returns.  Either way the
// capture only waits in a pending slot until the failing run records its
// error (functions/call_boundary.h's recordRunFailure); it costs nothing when nothing fails, and
// a capture that fails (out of memory) leaves the pending slot empty and
// the error itself untouched.
#ifndef VESKO_ENGINE_TRACEBACK_H
#define VESKO_ENGINE_TRACEBACK_H

#include <string>

struct lua_State;

namespace vesko::engine {

// [-0, +0] Notes L's call stack from `level` up (0 is the function running
// on L) as the pending traceback, in debug.traceback's form without a
// message: "stack traceback:" and one line per level, at most 22, with
// "..." for the ones left out.  Runs no script code and never raises.
void captureTraceback(lua_State* L, int level) noexcept;

// [-0, +0] Start-up: makes the message handler, which captures from the
// level that raised and answers the error value unchanged, and keeps it
// among the anchors (kTracebackHandlerSlot), out of scripts' reach.
void prepareTracebackHandler(lua_State* L);

// Marks, for its lifetime, the C function running on the main state (level
// 0) as the plug-in's own frame: tracebacks of the main state leave it
// out, so they show only the script's frames and the host calls between
// them.  Frames nest as deep as calls do; past kMaxHiddenFrames the extra
// ones are simply shown.
class HiddenFrame {
 public:
  explicit HiddenFrame(lua_State* L) noexcept;
  ~HiddenFrame();
  HiddenFrame(const HiddenFrame&) = delete;
  HiddenFrame& operator=(const HiddenFrame&) = delete;

 private:
  bool marked_ = false;
};

// After shutdown: nothing pending, no hidden frame.
void resetTraceback() noexcept;

// Hands over the pending traceback and empties the slot.
std::string takePendingTraceback() noexcept;

}  // namespace vesko::engine

#endif
