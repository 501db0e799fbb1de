// External functions whose work is not built yet: registered so a
// calculation finds them, they reset the error record and fail.
#include "engine/error_record.h"
#include "functions/external_functions.h"
#include "functions/guard.h"

namespace vesko {

namespace {
int16_t notYet() noexcept {
  return guarded([]() -> int16_t {
    clearError();
    return kFailed;
  });
}
}  // namespace

int16_t handleCallFunction(int16_t, const FMExprEnv*, const FMDataVect*, FMData*) noexcept {
  return notYet();
}
int16_t handleResumeFunction(int16_t, const FMExprEnv*, const FMDataVect*, FMData*) noexcept {
  return notYet();
}

}  // namespace vesko
