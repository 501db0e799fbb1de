// The one way into the plug-in: every external function's handler and the
// host's entry point pass through here, and everything a call sets up and
// puts back is done here, in one order (call_boundary.cpp writes it out).
//
// Invariant.  Between calls the interpreter is at rest:
//   - the main stack holds exactly the anchor thread, in slot 1
//     (kRestingHeight); no frame is open above it;
//   - the anchor thread holds its fixed slots and no coroutine hold;
//   - no time-limit run, hidden frame or locale mark is open, the memory
//     ceiling is off, and engine::callDepth is 0.
// Every call, nested ones included, leaves these exactly as it found them,
// on every path: success, a Lua error, a host failure, running out of
// memory.  The error record then describes the call (Vesko_LastError
// leaves it alone).  Debug builds assert this on the way out.
#ifndef VESKO_FUNCTIONS_CALL_BOUNDARY_H
#define VESKO_FUNCTIONS_CALL_BOUNDARY_H

#include <cstdint>
#include <exception>

#include "api/fm_api.h"
#include "engine/allocator.h"
#include "engine/time_limit.h"

struct lua_State;

namespace vesko {

inline constexpr int16_t kFailed = -1;

// The main stack's height between calls: the anchor thread alone.
inline constexpr int kRestingHeight = 1;

// What a handler works with.
struct Call {
  const FMExprEnv* env;
  const FMDataVect* parameters;
  FMData* result;
  // Handlers that run Lua: the main state, in a frame of the call's own
  // whose stack starts empty, inside the call's protected call.  Null when
  // no interpreter runs, and for handlers that do not run Lua.
  lua_State* L;
};

using Handler = int16_t (*)(Call& call);

// How far a handler reaches.
enum class Reach {
  kRecord,  // reads the error record and leaves it as it is (Vesko_LastError)
  kHost,    // host work only (Vesko_Version, Vesko_Timeout)
  kLua,     // runs Lua on the interpreter (the four run functions)
};

// Runs `handler` behind the boundary; answers its host error number, or
// -1 with code 3500 in the record when the host failed under it.  The call
// is counted for vesko.Stats() under the function's number.
int16_t enterCall(int16_t number, Reach reach, Handler handler, const FMExprEnv* env,
                  const FMDataVect* parameters, FMData* result) noexcept;

// What the host registers for each external function.
template <Reach reach, Handler handler>
int16_t externalFunction(int16_t number, const FMExprEnv* env, const FMDataVect* parameters,
                         FMData* result) noexcept {
  return enterCall(number, reach, handler, env, parameters, result);
}

// The host's entry point (enable, shutdown, string queries) behind the same
// lock and locale mark.  Start-up scripts and the finalizers that shutdown
// runs are script code too.  Nothing `message` raises reaches the host.
void enterHostMessage(void (*message)(FMCallRecord*), FMCallRecord* record) noexcept;

// Script code running under the time limit and the memory ceiling, on
// `thread`, for as long as the scope lasts: a chunk, a resumed coroutine,
// or the metamethods a name lookup may run.  A Lua error raised inside
// unwinds to the call's protected call, which records it.
class ScriptRun {
 public:
  explicit ScriptRun(lua_State* thread) : timed_(thread) {}
  ScriptRun(const ScriptRun&) = delete;
  ScriptRun& operator=(const ScriptRun&) = delete;

 private:
  engine::TimedRun timed_;
  engine::ProtectedRun ceiling_;
};

// Records a failed run from the error value on top of L's stack, with the
// pending traceback for a run-time error.  [-0, +0]
void recordRunFailure(lua_State* L, int status);

// Records a failure the host reported (or an interpreter panic) as code
// 3500 with a message naming it.  Never raises.
void recordHostFailure(const std::exception& failure) noexcept;

}  // namespace vesko

#endif
