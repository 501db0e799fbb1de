// The external functions plug-ins have registered, by name.  Any thread may
// use the registry: a plug-in disabled on one thread withdraws its
// functions while others look them up and call them.
#ifndef VESKO_HOST_FUNCTION_REGISTRY_H
#define VESKO_HOST_FUNCTION_REGISTRY_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/fm_api.h"

namespace vesko_host {

struct ExternalFunction {
  std::array<char, 4> pluginId{};
  int16_t number = 0;
  std::string name;  // UTF-8, as registered
  std::string prototype;
  int16_t minParameters = 0;
  int16_t maxParameters = 0;  // -1: any number
  uint32_t flags = 0;
  FMExternalFunction handler = nullptr;
};

// Answers kHostErrorAlreadyRegistered when the name (in any letter case)
// or the plug-in's function number is taken, or the error failRegistration
// set for the number.
int16_t addExternalFunction(const ExternalFunction& function);
// Answers kHostErrorNotRegistered when the plug-in has no such number.
int16_t removeExternalFunction(const std::array<char, 4>& pluginId, int16_t number);
// A copy of the function registered under `name`, which stays good when
// another thread removes it meanwhile.  Names match without regard to the
// case of ASCII letters.
std::optional<ExternalFunction> findExternalFunction(std::string_view name);
// Every registered function, in the order of their names' letters.
std::vector<ExternalFunction> registeredFunctions();

}  // namespace vesko_host

#endif
