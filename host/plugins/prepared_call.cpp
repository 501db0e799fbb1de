#include "host/plugins/prepared_call.h"

#include "host/plugins/calculations.h"
#include "host/plugins/function_registry.h"
#include "host/objects/host_errors.h"
#include "host/objects/host_objects.h"
#include "host/objects/data_values.h"

namespace vesko_host {

struct PreparedCall::Objects {
  ExternalFunction function;
  bool found = false;
  FMDataVect parameters;
  FMData answer;
  FMExprEnv environment;
};

PreparedCall::PreparedCall(std::string_view name, const std::vector<Value>& arguments)
    : objects_(std::make_unique<Objects>()) {
  if (std::optional<ExternalFunction> function = findExternalFunction(name)) {
    objects_->function = std::move(*function);
    objects_->found = true;
  }
  for (const Value& argument : arguments) {
    assignValue(objects_->parameters.items.emplace_back(), argument);
  }
  handOut(&objects_->parameters, Ownership::host);
  handOut(&objects_->answer, Ownership::host);
  handOut(&objects_->environment, Ownership::host);
}

PreparedCall::~PreparedCall() = default;

int16_t PreparedCall::call() {
  if (!objects_->found) return kHostErrorUnknownFunction;
  CalculationScope scope;
  if (scope.tooDeep) return kHostErrorCalculation;
  objects_->environment.calculation = currentCalculation();
  return objects_->function.handler(objects_->function.number, &objects_->environment,
                                    &objects_->parameters, &objects_->answer);
}

const FMDataVect* PreparedCall::parameters() const {
  return &objects_->parameters;
}

FMData* PreparedCall::answer() const {
  return &objects_->answer;
}

Value PreparedCall::result() const {
  return valueOf(objects_->answer);
}

}  // namespace vesko_host
