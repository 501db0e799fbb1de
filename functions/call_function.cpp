// Vesko_CallFunction( luaFunctionName {; arg...} ): calls a named Lua
// function on a new coroutine, so that it may yield back to the host.
#include <string_view>

#include "engine/anchors.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "functions/conversion.h"
#include "functions/coroutine_run.h"
#include "functions/external_functions.h"
#include "functions/run_chunk.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

namespace {

constexpr Failure kNoFunction = Failure::kNoFunction;
constexpr Failure kNoTable = Failure::kNoTable;
constexpr Failure kNoEntry = Failure::kNoEntry;

// [-0, +1] Pushes what `name` names: a global, or for "table.key" (split
// at the first full stop only, names of 3 bytes or more) the entry key of
// the global table.  Answers why the value does not qualify, or null.  The
// reads are ordinary indexed reads: an __index metamethod may run, and what
// it raises ends the call as the function's own error would.
const Failure* resolveName(lua_State* L, std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos || name.size() < 3) {
    lua_pushlstring(L, name.data(), name.size());
    lua_gettable(L, LUA_GLOBALSINDEX);
    return lua_type(L, -1) == LUA_TFUNCTION ? nullptr : &kNoFunction;
  }
  lua_pushlstring(L, name.data(), dot);
  lua_gettable(L, LUA_GLOBALSINDEX);
  if (lua_type(L, -1) != LUA_TTABLE) return &kNoTable;
  const std::string_view key = name.substr(dot + 1);
  lua_pushlstring(L, key.data(), key.size());
  lua_gettable(L, -2);
  lua_remove(L, -2);
  return lua_type(L, -1) == LUA_TFUNCTION ? nullptr : &kNoEntry;
}

}  // namespace

int16_t callFunction(Call& call) {
  lua_State* L = call.L;
  if (L == nullptr) return kFailed;
  // Until an outcome settles it, no function is active: nothing can
  // resume the new coroutine before it starts, and a failure the state
  // machine does not name (a host failure included) leaves none behind.
  const int outerFlag = engine::activeFunction;
  SettlesOrClearsFlag flag;
  engine::activeFunction = 0;
  const uint32_t count = host::vectSize(call.parameters);
  if (count == 0) {
    engine::activeFunction = outerFlag;
    flag.settled();
    return 0;
  }

  // The previous current coroutine is released here, suspended or not
  // (a running one is still held by the call that runs it).
  lua_State* co = lua_newthread(L);
  lua_pushvalue(L, -1);
  engine::setCurrentCoroutine(L);
  engine::CoroutineHold hold(L);
  if (!hold.held()) {
    setError(Failure::kNestedTooDeeply);
    return kFailed;
  }

  const ArgumentText name = readArgumentText(call.parameters, 0);
  // The lookup runs under the time limit and the memory ceiling, like the
  // function itself: an __index metamethod may loop or allocate, and what
  // it raises ends the call at the boundary.
  const Failure* failure = nullptr;
  {
    ScriptRun run(L);
    failure = resolveName(L, name.view());
  }
  if (failure != nullptr) {
    // The looked-up value stays as the coroutine's only value, and the
    // flag keeps its value.
    moveCall(L, co, 0);
    settleCurrent(L, hold.slot(), outerFlag);
    host::Text empty = host::newText();
    const int16_t code = host::dataSetText(
        call.result, empty.get(), host::dataLocale(host::vectAt(call.parameters, 0)), FM_KIND_TEXT);
    setError(*failure);
    flag.settled();
    return code;
  }
  // A C function cannot be a coroutine's body once it yields; the
  // trampoline, a Lua function, calls it instead.
  if (lua_iscfunction(L, -1)) {
    engine::pushAnchored(L, engine::kCallTrampolineSlot);
    lua_insert(L, -2);
  }

  if (!pushArguments(L, call.parameters, count, 1)) return failArguments();
  const int nargs = lua_gettop(L) - 1;
  if (!moveCall(L, co, nargs)) return failArguments();
  const int status = resumeCoroutine(co, nargs);
  // A returned string is handed over whole; a yielded one is cut to its
  // well-formed prefix (the opposite of Vesko_ResumeFunction).
  const int16_t answer = finishResume(L, hold.slot(), status, call.parameters, call.result,
                                      StringRule::kWhole, StringRule::kWellFormedPrefix);
  flag.settled();
  return answer;
}

}  // namespace vesko
