// Engine start-up: the one interpreter, its anchors and the functions the
// engine makes once, then the library set the caller names.  Shutdown, and
// the engine's fields, are in engine_state.cpp.
#include <stdexcept>

#include <lua.hpp>

#include "engine/allocator.h"
#include "engine/anchors.h"
#include "engine/broken_pipe.h"
#include "engine/call_trampoline.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/shared_interpreter.h"
#include "engine/traceback.h"

namespace vesko::engine {

namespace {

// An error raised outside any protected call would make the interpreter
// exit the host process; it becomes a C++ exception that the external
// function's guard turns into an error result instead.
int panic(lua_State* L) {
  const char* message = lua_tostring(L, -1);
  throw std::runtime_error(message != nullptr ? message : "unprotected Lua error");
}

// What start-up's protected call works with.
struct StartUp {
  lua_State* anchorThread;
  LibrarySet openLibraries;
};

// Steps that run Lua code, inside one protected call so that any error
// they raise ends start-up instead of the process.  [-0, +0, e]
int buildEnvironment(lua_State* L) {
  const auto* startUp = static_cast<const StartUp*>(lua_touserdata(L, 1));
  prepareAnchors(L, startUp->anchorThread);
  prepareCollection(L);
  lua_State* first = lua_newthread(L);
  setAnchored(L, kCurrentCoroutineSlot);
  currentCoroutine = first;
  pushCallTrampoline(L);
  setAnchored(L, kCallTrampolineSlot);

  prepareTracebackHandler(L);

  startUp->openLibraries(L);
  return 0;
}

}  // namespace

bool start(LibrarySet openLibraries) {
  // LuaSocket's core ignores SIGPIPE for the whole process as it opens.
  PipeDispositionKeeper hostDisposition;
  shareInterpreterSymbols();
  lua_State* L = newInterpreter();
  if (L == nullptr) return false;
  lua_atpanic(L, panic);
  // The anchor thread takes the bottom slot of the main stack, below every
  // frame, where no script reaches and no handler clears.  A fresh state
  // has no finalizers; only running out of memory can fail here.
  lua_State* thread = nullptr;
  try {
    thread = lua_newthread(L);
  } catch (const std::exception&) {
    lua_close(L);
    return false;
  }
  StartUp startUp{thread, openLibraries};
  if (lua_cpcall(L, buildEnvironment, &startUp) != 0) {
    lua_close(L);
    anchors = nullptr;
    currentCoroutine = nullptr;
    return false;
  }
  lua_settop(L, 1);
  mainState = L;
  // A function suspended in the previous interpreter is gone with it.
  activeFunction = 0;
  clearError();
  return true;
}

}  // namespace vesko::engine
