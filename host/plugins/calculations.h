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

// The evaluator's levels, frames of its recursion, that all running
// calculations of the session may hold at once.  A calculation reserves
// the height of its tree and a parse's worth more while it runs, so that
// nested calculations, each within the per-calculation limits, cannot
// together exhaust the stack.
constexpr std::size_t kEvaluationLevelBudget = 8000;
constexpr std::size_t kLevelsOfAParse = 2000;

// Reserves `levels` of the budget for its lifetime; `refused` when they are
// not left, and then nothing is reserved.
struct LevelReservation {
  explicit LevelReservation(std::size_t levels);
  ~LevelReservation();
  LevelReservation(const LevelReservation&) = delete;
  LevelReservation& operator=(const LevelReservation&) = delete;
  std::size_t levels;
  bool refused;
};

// The innermost running calculation, 0 when none runs.
uint64_t currentCalculation();

// The call record's current-environment callback: attaches `env` to the
// innermost running calculation.
int16_t attachCurrentEnvironment(FMExprEnv* env);

}  // namespace vesko_host

#endif
