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

// [-1, +1] Looks up the name given as the one argument: a global, or for
// "table.key" (split at the first full stop only, names of 3 bytes or
// more) the entry key of the global table.  Answers the value found and,
// when it does not qualify, the failure as a light userdata.  Runs as a
// protected call: an __index metamethod may raise.
int resolveName(lua_State* co) {
  std::size_t length = 0;
  const char* name = lua_tolstring(co, 1, &length);
  const std::string_view text(name, length);
  const std::size_t dot = text.find('.');
  const Unresolved* failure = nullptr;
  if (dot == std::string_view::npos || length < 3) {
    lua_getfield(co, LUA_GLOBALSINDEX, name);
    if (lua_type(co, -1) != LUA_TFUNCTION) failure = &kNoFunction;
  } else {
    const std::string table(text.substr(0, dot));
    lua_getfield(co, LUA_GLOBALSINDEX, table.c_str());
    if (lua_type(co, -1) != LUA_TTABLE) {
      failure = &kNoTable;
    } else {
      lua_getfield(co, -1, name + dot + 1);
      lua_remove(co, -2);
      if (lua_type(co, -1) != LUA_TFUNCTION) failure = &kNoEntry;
    }
  }
  lua_pushlightuserdata(co, const_cast<Unresolved*>(failure));
  return 2;
}

}  // namespace

int16_t handleCallFunction(int16_t, const FMExprEnv* env, const FMDataVect* parameters,
                           FMData* result) noexcept {
  return guarded([&]() -> int16_t {
    lua_State* L = beginMainRun();
    if (L == nullptr) return kFailed;
    const uint32_t count = host::vectSize(parameters);
    if (count == 0) return 0;
    engine::EnvironmentScope scope(env);

    // The previous current coroutine is released here, suspended or not
    // (a running one is still held by the call that runs it).
    lua_State* co = lua_newthread(L);
    engine::replaceCurrentCoroutine();

    const ArgumentText name = readArgumentText(parameters, 0);
    lua_pushcfunction(co, resolveName);
    lua_pushlstring(co, name.data(), name.length);
    int lookup = 0;
    {
      engine::TimedRun timed(co);  // an __index metamethod may loop
      engine::ProtectedRun run;
      lookup = lua_pcall(co, 1, 2, 0);
    }
    if (lookup != 0) return failRun(co, lookup);
    const auto* failure = static_cast<const Unresolved*>(lua_touserdata(co, -1));
    lua_pop(co, 1);
    if (failure != nullptr) {
      // The looked-up value stays as the coroutine's only value.
      host::Text empty = host::newText();
      const int16_t code = host::dataSetText(
          result, empty.get(), host::dataLocale(host::vectAt(parameters, 0)), FM_KIND_TEXT);
      setError(failure->code, failure->message);
      return code;
    }

    if (!pushArguments(co, parameters, count, 1)) return failArguments();
    const int status = resumeCoroutine(co, static_cast<int>(count - 1));
    // A returned string is handed over whole; a yielded one is cut to its
    // well-formed prefix (the opposite of Vesko_ResumeFunction).
    return finishResume(co, status, parameters, result, StringRule::kWhole,
                        StringRule::kWellFormedPrefix);
  });
}

}  // namespace vesko
