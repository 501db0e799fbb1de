// Vesko_CallFunction( luaFunctionName {; arg...} ): calls a named Lua
// function on a new coroutine, so that it may yield back to the host.
#include <string_view>

#include "engine/allocator.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "engine/time_limit.h"
#include "functions/conversion.h"
#include "functions/coroutine_run.h"
#include "functions/external_functions.h"
#include "functions/guard.h"
#include "functions/protected_steps.h"
#include "engine/anchors.h"
#include "functions/run_chunk.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

namespace {

struct Unresolved {
  const char* code;
  const char* message;
};
constexpr Unresolved kNoFunction = {"3100", "Function does not exist."};
constexpr Unresolved kNoTable = {"3110", "Table does not exist."};
constexpr Unresolved kNoEntry = {"3111", "Table entry is not a function."};

// [-1, +2] Looks up the name given as the one argument: a global, or for
// "table.key" (split at the first full stop only, names of 3 bytes or
// more) the entry key of the global table.  Answers the value found and,
// when it does not qualify, the failure as a light userdata.  Runs as a
// protected call on the main stack: an __index metamethod may raise, and
// the new coroutine is never seen by the Lua code that runs meanwhile.
int resolveName(lua_State* L) {
  std::size_t length = 0;
  const char* name = lua_tolstring(L, 1, &length);
  const std::string_view text(name, length);
  const std::size_t dot = text.find('.');
  const Unresolved* failure = nullptr;
  if (dot == std::string_view::npos || length < 3) {
    lua_getfield(L, LUA_GLOBALSINDEX, name);
    if (lua_type(L, -1) != LUA_TFUNCTION) failure = &kNoFunction;
  } else {
    const std::string table(text.substr(0, dot));
    lua_getfield(L, LUA_GLOBALSINDEX, table.c_str());
    if (lua_type(L, -1) != LUA_TTABLE) {
      failure = &kNoTable;
    } else {
      lua_getfield(L, -1, name + dot + 1);
      lua_remove(L, -2);
      if (lua_type(L, -1) != LUA_TFUNCTION) failure = &kNoEntry;
    }
  }
  lua_pushlightuserdata(L, const_cast<Unresolved*>(failure));
  return 2;
}

}  // namespace

int16_t handleCallFunction(int16_t, const FMExprEnv* env, const FMDataVect* parameters,
                           FMData* result) noexcept {
  return guardedSteps([&](lua_State*) -> int16_t {
    lua_State* L = beginMainRun();
    if (L == nullptr) return kFailed;
    const uint32_t count = host::vectSize(parameters);
    if (count == 0) return 0;
    engine::EnvironmentScope scope(env);

    // Until an outcome settles it, no function is active: nothing can
    // resume the new coroutine before it starts, and a failure the state
    // machine does not name leaves none behind.
    const int outerFlag = engine::activeFunction;
    engine::activeFunction = 0;
    SettlesOrClearsFlag flag;

    // The previous current coroutine is released here, suspended or not
    // (a running one is still held by the call that runs it).
    lua_State* co = lua_newthread(L);
    lua_pushvalue(L, -1);
    engine::setCurrentCoroutine(L);
    engine::CoroutineHold hold(L);
    if (!hold.held()) {
      luaL_error(L, "Calls nested too deeply.");
      return kFailed;
    }

    const ArgumentText name = readArgumentText(parameters, 0);
    lua_pushcfunction(L, resolveName);
    lua_pushlstring(L, name.data(), name.length);
    engine::armTimeLimit(L);
    int lookup = 0;
    {
      engine::ProtectedRun run;
      lookup = lua_pcall(L, 1, 2, 0);
    }
    if (lookup != 0) {
      settleCurrent(L, hold.slot(), 0);
      return failRun(L, lookup);
    }
    const auto* failure = static_cast<const Unresolved*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    if (failure != nullptr) {
      // The looked-up value stays as the coroutine's only value, and the
      // flag keeps its value.
      moveCall(L, co, 0);
      settleCurrent(L, hold.slot(), outerFlag);
      flag.settled();
      host::Text empty = host::newText();
      const int16_t code = host::dataSetText(
          result, empty.get(), host::dataLocale(host::vectAt(parameters, 0)), FM_KIND_TEXT);
      setError(failure->code, failure->message);
      return code;
    }
    // A C function cannot be a coroutine's body once it yields; the
    // trampoline, a Lua function, calls it instead.
    if (lua_iscfunction(L, -1)) {
      engine::pushAnchored(L, engine::kCallTrampolineSlot);
      lua_insert(L, -2);
    }

    if (!pushArguments(L, parameters, count, 1)) return failArguments();
    const int nargs = lua_gettop(L) - 1;
    if (!moveCall(L, co, nargs)) return failArguments();
    const int status = resumeCoroutine(co, nargs);
    flag.settled();
    // A returned string is handed over whole; a yielded one is cut to its
    // well-formed prefix (the opposite of Vesko_ResumeFunction).
    return finishResume(L, hold.slot(), status, parameters, result, StringRule::kWhole,
                        StringRule::kWellFormedPrefix);
  });
}

}  // namespace vesko
