// External function calls: host-owned parameters, result and environment
// around one call of a plug-in's handler.
#include "host/plugins/external_calls.h"

#include "host/plugins/calculations.h"
#include "host/objects/host_errors.h"
#include "host/objects/host_objects.h"
#include "host/objects/data_values.h"

namespace vesko_host {

int16_t checkParameterCount(std::size_t count, int minimum, int maximum) {
  if (count < static_cast<std::size_t>(std::max(minimum, 0))) return kHostErrorTooFewParameters;
  if (maximum >= 0 && count > static_cast<std::size_t>(maximum)) return kHostErrorTooManyParameters;
  return kHostErrorNone;
}

int16_t callRegisteredFunction(ExternalFunction function, const std::vector<Value>& arguments,
                               Value* result) {
  if (const int16_t error =
          checkParameterCount(arguments.size(), function.minParameters, function.maxParameters))
    return error;
  CalculationScope scope;  // a call from outside any calculation is a calculation of its own
  if (scope.tooDeep) return kHostErrorCalculation;

  FMDataVect parameters;
  for (const Value& argument : arguments) assignValue(parameters.items.emplace_back(), argument);
  FMData answer;
  FMExprEnv environment;
  environment.calculation = currentCalculation();
  handOut(&parameters, Ownership::host);
  handOut(&answer, Ownership::host);
  handOut(&environment, Ownership::host);

  int16_t error = kHostErrorUnknown;
  try {
    error = function.handler(function.number, &environment, &parameters, &answer);
  } catch (...) {
    recordViolation("external function " + function.name + ": an exception escaped its handler");
  }
  *result = valueOf(answer);
  return error;
}

int16_t callExternal(std::string_view name, const std::vector<Value>& arguments, Value* result) {
  *result = Value{};
  std::optional<ExternalFunction> function = findExternalFunction(name);
  if (!function) return kHostErrorUnknownFunction;
  return callRegisteredFunction(std::move(*function), arguments, result);
}

}  // namespace vesko_host
