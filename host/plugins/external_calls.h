// Calling a registered external function the way a calculation does.
#ifndef VESKO_HOST_EXTERNAL_CALLS_H
#define VESKO_HOST_EXTERNAL_CALLS_H

#include <cstdint>
#include <vector>

#include "host/plugins/function_registry.h"
#include "host/substitute_host.h"

namespace vesko_host {

// kHostErrorTooFewParameters or kHostErrorTooManyParameters when `count`
// is outside [minimum, maximum] (a maximum of -1 has no limit), else 0.
int16_t checkParameterCount(std::size_t count, int minimum, int maximum);

// Calls the handler inside the running calculation with host-owned
// parameters, result and environment, and reads the result back.  Answers
// the handler's host error.  `function` is copied first: the handler may
// unregister it.
int16_t callRegisteredFunction(ExternalFunction function, const std::vector<Value>& arguments,
                               Value* result);

}  // namespace vesko_host

#endif
