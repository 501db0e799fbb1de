// Loads a plug-in library the way the host does and talks to its entry.
#ifndef VESKO_HOST_PLUGIN_LOADER_H
#define VESKO_HOST_PLUGIN_LOADER_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/fm_api.h"

namespace vesko_host {

// The host interface version a current host reports on enabling.
constexpr uint16_t kHostVersion = 62;

struct LoadedPlugin {
  void* library = nullptr;  // dlopen handle, passed as the record's instance
  FMEntryPoint entry = nullptr;
  // The plug-in keeps the address of the latest record, so it lives as long
  // as the library is loaded.
  std::unique_ptr<FMCallRecord> record;
};

// dlopen(path) and find FMExternCallProc; on failure answers nothing and
// sets *error to a message.
std::optional<LoadedPlugin> loadPlugin(const std::string& path, std::string* error);
// dlclose; the library's unload code runs.
void unloadPlugin(LoadedPlugin& plugin);

// Sends the enable message and answers the record's result field.
int64_t enablePlugin(LoadedPlugin& plugin, uint16_t hostVersion = kHostVersion);
void shutdownPlugin(LoadedPlugin& plugin);
// Sends the get-string message for `id` with a buffer of `capacity` units.
// Answers nothing when the plug-in wrote nothing into the buffer.
std::optional<std::u16string> pluginString(LoadedPlugin& plugin, uint8_t id, uint32_t capacity);
// Sends any message code with the record otherwise zeroed but for the
// version; answers the record's result field afterwards (it starts at a
// marker value, kUntouchedResult, so a test can see whether it was written).
constexpr int64_t kUntouchedResult = 0x5A5A5A5A;
int64_t sendMessage(LoadedPlugin& plugin, uint8_t message);

}  // namespace vesko_host

#endif
