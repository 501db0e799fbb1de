// The calculations now running.  They nest: an external function called by
// one may evaluate another, which may call the plug-in again.
#ifndef VESKO_HOST_CALCULATIONS_H
#define VESKO_HOST_CALCULATIONS_H

#include <cstddef>
#include <cstdint>

#include "api/fm_api.h"

namespace vesko_host {

// Deeper nesting is refused (kHostErrorCalculation), so that a script that
// evaluates a calculation that runs the script again ends instead of
// exhausting the stack.
constexpr std::size_t kMaxCalculationDepth = 48;

// Marks one calculation as running for its lifetime, innermost last.
struct CalculationScope {
  CalculationScope();
  ~CalculationScope();
  CalculationScope(const CalculationScope&) = delete;
  CalculationScope& operator=(const CalculationScope&) = delete;
  uint64_t id;
  bool tooDeep;  // the scope is past kMaxCalculationDepth: the calculation must not run
};

// The innermost running calculation, 0 when none runs.
uint64_t currentCalculation();

// The call record's current-environment callback: attaches `env` to the
// innermost running calculation.
int16_t attachCurrentEnvironment(FMExprEnv* env);

}  // namespace vesko_host

#endif
