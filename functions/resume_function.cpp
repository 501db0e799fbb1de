// Vesko_ResumeFunction( {arg...} ): continues the function that
// Vesko_CallFunction left suspended in a yield.
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

int16_t resumeFunction(Call& call) {
  lua_State* L = call.L;
  // Every failure ends the function (a host failure included), but the
  // refusal of a nested resume, which leaves it to the call running it.
  SettlesOrClearsFlag flag;
  const uint32_t count = host::vectSize(call.parameters);
  if (L == nullptr || engine::activeFunction == 0) {
    setError(Failure::kNothingToResume);
    return kFailed;
  }
  lua_State* co = engine::currentCoroutine;
  if (engine::isHeld(co) || isRunning(co)) {
    flag.settled();
    setError(Failure::kResumingRunning);
    return kFailed;
  }
  // A script that got hold of the coroutine may have ended it itself
  // (coroutine.resume): then no function is active any more.
  if (hasEnded(co)) {
    setError(Failure::kNothingToResume);
    return kFailed;
  }
  engine::pushAnchored(L, engine::kCurrentCoroutineSlot);
  engine::CoroutineHold hold(L);
  if (!hold.held()) {
    setError(Failure::kNestedTooDeeply);
    return kFailed;
  }
  if (!pushArguments(L, call.parameters, count, 0)) return failArguments();
  const int nargs = lua_gettop(L);
  if (nargs > 0 && !moveCall(L, co, nargs - 1)) return failArguments();
  const int status = resumeCoroutine(co, nargs);
  // A returned string is cut to its well-formed prefix; a yielded one is
  // handed over whole.
  const int16_t answer = finishResume(L, hold.slot(), status, call.parameters, call.result,
                                      StringRule::kWellFormedPrefix, StringRule::kWhole);
  flag.settled();
  return answer;
}

}  // namespace vesko
