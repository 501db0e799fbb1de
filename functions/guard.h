// The boundary every handler runs behind: no exception reaches the host.
#ifndef VESKO_FUNCTIONS_GUARD_H
#define VESKO_FUNCTIONS_GUARD_H

#include <cstdint>
#include <exception>
#include <new>

#include "engine/allocator.h"

namespace vesko {

inline constexpr int16_t kFailed = -1;

// Records a failure the host reported inside a handler (or an interpreter
// panic) as code "3500" with a message naming it; never raises.
void recordHostFailure(const std::exception& failure) noexcept;

// Runs `body`; a failure it raises ends the call with -1 and, when
// `record` is set, code 3500 in the error record.  Only host failures get
// here: a body that touches the interpreter does its Lua work as protected
// steps (functions/protected_steps.h), so no Lua error unwinds this far.  Vesko_LastError passes
// false: it only reads the record and must leave it as it was.
template <class Body>
int16_t guarded(Body&& body, bool record = true) noexcept {
  try {
    engine::UnprotectedWork unprotected;
    return body();
  } catch (const std::exception& failure) {
    if (record) recordHostFailure(failure);
  } catch (...) {
    if (record) recordHostFailure(std::bad_exception());
  }
  return kFailed;
}

}  // namespace vesko

#endif
