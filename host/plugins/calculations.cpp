// The stack of running calculations and the current-environment callback.
#include "host/plugins/calculations.h"

#include <atomic>
#include <vector>

#include "host/objects/host_errors.h"
#include "host/objects/host_objects.h"

namespace vesko_host {
namespace {

// Each host thread evaluates calculations of its own, on a stack of its own.
thread_local std::vector<uint64_t> running;  // innermost last
std::atomic<uint64_t> lastId = 0;
thread_local std::size_t reservedLevels = 0;  // by the running calculations, at most the budget

}  // namespace

CalculationScope::CalculationScope()
    : id(++lastId), tooDeep(running.size() >= kMaxCalculationDepth) {
  running.push_back(id);
}

CalculationScope::~CalculationScope() {
  running.pop_back();
}

LevelReservation::LevelReservation(std::size_t wanted)
    : levels(wanted), refused(wanted > kEvaluationLevelBudget - reservedLevels) {
  if (refused) levels = 0;
  reservedLevels += levels;
}

LevelReservation::~LevelReservation() {
  reservedLevels -= levels;
}

uint64_t currentCalculation() {
  return running.empty() ? 0 : running.back();
}

int16_t attachCurrentEnvironment(FMExprEnv* env) {
  FMErrorRecord ignored{1, 0};
  FMExprEnv* environment = useHandle(env, "current-environment callback", &ignored);
  if (environment == nullptr) return kHostErrorUnknown;
  environment->calculation = currentCalculation();
  return environment->calculation == 0 ? kHostErrorNoCalculation : kHostErrorNone;
}

}  // namespace vesko_host
