// The one interpreter and the state every external function shares.
//
// All of it is touched only on the host's calling thread, one external
// function call at a time (a nested call runs inside the outer one).
#ifndef VESKO_ENGINE_ENGINE_H
#define VESKO_ENGINE_ENGINE_H

#include <cstdint>

#include "api/fm_api.h"

struct lua_State;

namespace vesko::engine {

// The interpreter, from a successful start() to shutdown(); null otherwise.
extern lua_State* mainState;

// The thread Vesko_CallFunction runs its function on and Vesko_ResumeFunction
// continues.  The anchor thread keeps it (engine/anchors.h) for as long as
// it is current: neither clearing the main stack nor a script rewriting
// the registry releases it.
extern lua_State* currentCoroutine;

// 1 while the current coroutine is suspended in a yield reported to the host.
extern int activeFunction;

// The calculation environment of the external function now running, borrowed
// from the host for the length of that call; vesko.Evaluate uses it.
extern const FMExprEnv* savedEnvironment;

// Makes `env` the saved environment for the length of one external-function
// call and puts the outer call's back when it ends, so that a nested call
// never leaves the outer one evaluating in a released environment.
class EnvironmentScope {
 public:
  explicit EnvironmentScope(const FMExprEnv* env) : outer_(savedEnvironment) {
    savedEnvironment = env;
  }
  ~EnvironmentScope() { savedEnvironment = outer_; }
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;

 private:
  const FMExprEnv* outer_;
};

// External-function calls now open, nested ones included (engine state
// that a call puts back on its way out: functions/call_boundary.h).
extern int callDepth;

// [-0, +0, e] Opens the libraries scripts find in L, a new interpreter
// (library/library_set.h).
using LibrarySet = void (*)(lua_State* L);

// Builds the interpreter and opens `openLibraries` in it.  Answers false
// when no interpreter can be created or opening fails.  Host failures
// propagate as exceptions.
bool start(LibrarySet openLibraries);

// Closes the interpreter (running the finalizers of what it still holds)
// and puts every stateful module of the engine back as a fresh start-up
// finds it.  The time limit and hook interval stay, as set.
void shutdown();

// [-1, +0] Makes the thread on top of L's stack the current coroutine and
// pops it; the previous one is released.  Allocates nothing.
void setCurrentCoroutine(lua_State* L);

}  // namespace vesko::engine

#endif
