// Vesko_ResumeFunction( {arg...} ): continues the function that
// Vesko_CallFunction left suspended in a yield.
#include "engine/engine.h"
#include "engine/error_record.h"
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

int16_t handleResumeFunction(int16_t, const FMExprEnv* env, const FMDataVect* parameters,
                             FMData* result) noexcept {
  return guardedSteps([&](lua_State* L) -> int16_t {
    clearError();
    // Every failure ends the function (a host failure included), but the
    // refusal of a nested resume, which leaves it to the call running it.
    SettlesOrClearsFlag flag;
    engine::EnvironmentScope scope(env);
    const uint32_t count = host::vectSize(parameters);
    if (L == nullptr || engine::activeFunction == 0) {
      setError("3250", "Cannot resume. No function is active.");
      return kFailed;
    }
    lua_State* co = engine::currentCoroutine;
    if (engine::isHeld(co) || isRunning(co)) {
      flag.settled();
      setError("3020", "Cannot resume the function that is running.");
      return kFailed;
    }
    // A script that got hold of the coroutine may have ended it itself
    // (coroutine.resume): then no function is active any more.
    if (hasEnded(co)) {
      setError("3250", "Cannot resume. No function is active.");
      return kFailed;
    }
    engine::pushAnchored(L, engine::kCurrentCoroutineSlot);
    engine::CoroutineHold hold(L);
    if (!hold.held()) {
      luaL_error(L, "Calls nested too deeply.");
      return kFailed;
    }
    if (!pushArguments(L, parameters, count, 0)) return failArguments();
    const int nargs = lua_gettop(L);
    if (nargs > 0 && !moveCall(L, co, nargs - 1)) return failArguments();
    const int status = resumeCoroutine(co, nargs);
    // A returned string is cut to its well-formed prefix; a yielded one is
    // handed over whole.
    const int16_t answer = finishResume(L, hold.slot(), status, parameters, result,
                                        StringRule::kWellFormedPrefix, StringRule::kWhole);
    flag.settled();
    return answer;
  });
}

}  // namespace vesko
