#include "functions/call_boundary.h"

#include <pthread.h>

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>

#include "engine/anchors.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/figures.h"
#include "engine/process_locale.h"
#include "engine/traceback.h"
#include "functions/conversion.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

// A call, from the host's side inwards; the way out undoes each step in
// the reverse order (C++ scope ends), and every step is undone on every
// path:
//
//   1. EntryLock      one call at a time; a nested call on the same thread
//                     passes (a script's vesko.Evaluate calls us again).
//   2. LocaleMark     a locale a script sets ends with the call.
//   3. UnprotectedWork no memory ceiling while plug-in code works
//                     outside any protected call; inside the call's
//                     protected call (8) the ceiling holds, since any
//                     allocation may run a script's finalizer.
//   4. try / catch    a host failure becomes code 3500 and -1.
//   5. the record     reset to "0", except for Vesko_LastError.
//   6. callDepth      counts the calls now open.  (Around all of 4 to 10,
//                     inside the lock, each call is counted for
//                     vesko.Stats().)
//   For handlers that run Lua:
//   7. the stack      its height is noted; the one exit sets it back.
//   8. protected call the traceback handler below the call's function, so
//                     any Lua error of the call (its steps' or its script's)
//                     is noted with its traceback, unwinds to here, and is
//                     recorded by its run status.
//   9. HiddenFrame    tracebacks leave the call's own frame out.
//  10. the handler    reads the text, loads, runs; ScriptRun scopes apply
//                     the time limit and the ceiling while script code runs.
//   Last, after any memory error: a collection, so the next call does not
//   start at the ceiling.

namespace {

// ---- 1. The entry lock -----------------------------------------------
//
// A server host may call from several threads.  The owner's thread
// identity is an atomic: an uncontended entry and a re-entry on the
// owning thread cost one compare each; only a thread that must wait
// touches the mutex.  `ownerDepth` is read and written by the owner only.
std::atomic<pthread_t> owner{0};
int ownerDepth = 0;
std::atomic<int> waiters{0};
std::mutex waitLock;
std::condition_variable released;

bool tryOwn(pthread_t self) {
  pthread_t expected = 0;
  return owner.compare_exchange_strong(expected, self, std::memory_order_seq_cst);
}

void lockEntry() {
  const pthread_t self = pthread_self();
  // Only this thread ever stores its own identity there.
  if (owner.load(std::memory_order_relaxed) == self) {
    ++ownerDepth;
    return;
  }
  if (!tryOwn(self)) {
    std::unique_lock<std::mutex> lock(waitLock);
    waiters.fetch_add(1, std::memory_order_seq_cst);
    // Tried again under the mutex: a release between the first try and
    // here has no waiter to wake, and is seen by this try instead.
    while (!tryOwn(self)) released.wait(lock);
    waiters.fetch_sub(1, std::memory_order_relaxed);
  }
  ownerDepth = 1;
}

void unlockEntry() {
  if (--ownerDepth > 0) return;
  owner.store(0, std::memory_order_seq_cst);
  if (waiters.load(std::memory_order_seq_cst) == 0) return;
  const std::lock_guard<std::mutex> lock(waitLock);
  released.notify_all();
}

class EntryLock {
 public:
  EntryLock() { lockEntry(); }
  ~EntryLock() { unlockEntry(); }
  EntryLock(const EntryLock&) = delete;
  EntryLock& operator=(const EntryLock&) = delete;
};

// ---- 6. The depth of open calls ---------------------------------------

class OpenCall {
 public:
  OpenCall() { ++engine::callDepth; }
  ~OpenCall() { --engine::callDepth; }
  OpenCall(const OpenCall&) = delete;
  OpenCall& operator=(const OpenCall&) = delete;
};

// ---- 7 to 10. The protected call --------------------------------------

struct Steps {
  Handler handler;
  Call* call;
  int16_t answer;
  std::exception_ptr hostFailure;
};

// [-1, +0] The protected call's function; its argument is the Steps.  Only
// the host's failures are caught here: the interpreter's own unwinding
// passes on to the protected call.
int runSteps(lua_State* L) {
  auto* steps = static_cast<Steps*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  engine::HiddenFrame hidden(L);
  steps->call->L = L;
  try {
    steps->answer = steps->handler(*steps->call);
  } catch (const std::exception&) {
    steps->hostFailure = std::current_exception();
  }
  return 0;
}

// [-0, +2] Pushes the traceback handler and runSteps, both kept among the
// anchors: made once, they cost no allocation per call.  The anchor
// thread has room for both above its holds.
void pushCallFunctions(lua_State* L) {
  lua_State* anchors = engine::anchors;
  lua_pushvalue(anchors, engine::kTracebackHandlerSlot);
  lua_pushvalue(anchors, engine::kProtectedStepsSlot);
  lua_xmove(anchors, L, 2);
  if (!lua_isnil(L, -1)) return;
  lua_pop(L, 1);
  lua_pushcfunction(L, runSteps);
  lua_pushvalue(L, -1);
  engine::setAnchored(L, engine::kProtectedStepsSlot);
}

// Whether the anchors hold what they held when the call began: its holds
// ended with it.
[[maybe_unused]] bool anchorsAsBefore(int anchorsTop) {
  return engine::anchors == nullptr || lua_gettop(engine::anchors) == anchorsTop;
}

// Runs the handler as protected steps on the main state L and answers its
// host error number.  A host failure is raised again once the stack is
// back, for step 4.
int16_t runProtected(lua_State* L, Handler handler, Call& call) {
  const int top = lua_gettop(L);
  [[maybe_unused]] const int anchorsTop = lua_gettop(engine::anchors);
  Steps steps{handler, &call, kFailed, nullptr};
  pushCallFunctions(L);
  lua_pushlightuserdata(L, &steps);
  int status = 0;
  {
    // Conversions allocate, and any allocation may run a script's
    // finalizer: the steps answer to the ceiling as their runs do.
    engine::ProtectedRun ceiling;
    status = lua_pcall(L, 1, 0, top + 1);
  }
  if (status != 0) {
    recordRunFailure(L, status);
    steps.answer = kFailed;
  }
  // The one way out of the protected call, whatever happened in it.
  lua_settop(L, top);
  // Whatever failed code left (or a script that caught a memory error and
  // went on) goes now, so that the next call does not start at the ceiling.
  if (engine::ranOutOfMemory()) engine::collectAfterMemoryError();
  assert(lua_gettop(L) == top && anchorsAsBefore(anchorsTop));
  if (steps.hostFailure) std::rethrow_exception(steps.hostFailure);
  return steps.answer;
}

}  // namespace

void recordHostFailure(const std::exception& failure) noexcept {
  try {
    setError(ErrorCode::kHostFailure, std::string("Host operation failed: ") + failure.what());
  } catch (...) {
    // The host cannot even store the record; the -1 answer is all it gets.
  }
}

void recordRunFailure(lua_State* L, int status) {
  setErrorFromLua(runStatusCode(status), L);
  std::string traceback = engine::takePendingTraceback();
  if (status == LUA_ERRRUN) setErrorTraceback(std::move(traceback));
}

namespace {

// Steps 4 to 10.
int16_t callHandler(Reach reach, Handler handler, const FMExprEnv* env,
                    const FMDataVect* parameters, FMData* result) noexcept {
  try {
    OpenCall open;
    Call call{env, parameters, result, nullptr};
    if (reach != Reach::kRecord) clearError();
    if (reach != Reach::kLua) return handler(call);
    engine::EnvironmentScope environment(env);
    lua_State* L = engine::mainState;
    if (L == nullptr) return handler(call);
    return runProtected(L, handler, call);
  } catch (const std::exception& failure) {
    if (reach != Reach::kRecord) recordHostFailure(failure);
  } catch (...) {
    if (reach != Reach::kRecord) recordHostFailure(std::bad_exception());
  }
  return kFailed;
}

}  // namespace

int16_t enterCall(int16_t number, Reach reach, Handler handler, const FMExprEnv* env,
                  const FMDataVect* parameters, FMData* result) noexcept {
  EntryLock entry;
  engine::LocaleMark locale;
  engine::UnprotectedWork unprotected;
  // Counted from its start, so that a script sees its own call; a failure
  // answers an error, or leaves one in the record (which Vesko_LastError
  // only reads).
  engine::CallFigures& counted = engine::callFigures(number);
  ++counted.calls;
  const int16_t answer = callHandler(reach, handler, env, parameters, result);
  if (answer != 0 || (reach != Reach::kRecord && errorRecorded())) ++counted.failures;
  return answer;
}

void enterHostMessage(void (*message)(FMCallRecord*), FMCallRecord* record) noexcept {
  EntryLock entry;
  engine::LocaleMark locale;
  engine::UnprotectedWork unprotected;
  try {
    host::setCallRecord(record);
    message(record);
  } catch (...) {
    // Nothing may escape into the host.
  }
}

}  // namespace vesko
