// The registry of external functions: one entry per name, unique per
// plug-in and number too.
#include "host/plugins/function_registry.h"

#include <map>
#include <mutex>

#include "host/objects/host_errors.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

std::string foldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return folded;
}

// Keyed by the folded name.
std::map<std::string, ExternalFunction, std::less<>>& functions() {
  static auto* map = new std::map<std::string, ExternalFunction, std::less<>>();
  return *map;
}

std::map<int16_t, int16_t>& refusedNumbers() {
  static auto* map = new std::map<int16_t, int16_t>();
  return *map;
}

// Guards both maps.  Nothing calls out while holding it.
std::mutex& registryLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
using Hold = std::lock_guard<std::mutex>;

}  // namespace

int16_t addExternalFunction(const ExternalFunction& function) {
  const Hold hold(registryLock());
  if (auto refused = refusedNumbers().find(function.number); refused != refusedNumbers().end())
    return refused->second;
  for (const auto& [name, known] : functions())
    if (known.pluginId == function.pluginId && known.number == function.number)
      return kHostErrorAlreadyRegistered;
  if (!functions().emplace(foldedName(function.name), function).second)
    return kHostErrorAlreadyRegistered;
  return kHostErrorNone;
}

int16_t removeExternalFunction(const std::array<char, 4>& pluginId, int16_t number) {
  const Hold hold(registryLock());
  for (auto it = functions().begin(); it != functions().end(); ++it) {
    if (it->second.pluginId == pluginId && it->second.number == number) {
      functions().erase(it);
      return kHostErrorNone;
    }
  }
  return kHostErrorNotRegistered;
}

std::optional<ExternalFunction> findExternalFunction(std::string_view name) {
  const std::string folded = foldedName(name);
  const Hold hold(registryLock());
  auto found = functions().find(folded);
  if (found == functions().end()) return std::nullopt;
  return found->second;
}

std::vector<ExternalFunction> registeredFunctions() {
  const Hold hold(registryLock());
  std::vector<ExternalFunction> all;
  for (const auto& [name, function] : functions()) all.push_back(function);
  return all;
}

bool isRegistered(std::string_view name) {
  return findExternalFunction(name).has_value();
}

std::size_t registeredCount() {
  const Hold hold(registryLock());
  return functions().size();
}

void failRegistration(int16_t functionId, int16_t error) {
  const Hold hold(registryLock());
  if (error == 0) {
    refusedNumbers().erase(functionId);
  } else {
    refusedNumbers()[functionId] = error;
  }
}

}  // namespace vesko_host
