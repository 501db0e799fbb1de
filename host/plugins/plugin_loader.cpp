// Loading a plug-in library and sending it the host's messages.
#include "host/plugins/plugin_loader.h"

#include <dlfcn.h>

#include <cstring>
#include <vector>

#include "host/plugins/calculations.h"
#include "host/objects/host_objects.h"

namespace vesko_host {
namespace {

// What the get-string buffer is filled with before the plug-in writes: a
// noncharacter, so no real answer starts with it.
constexpr char16_t kUnwritten = 0xFDD0;
// Units of the buffer past its capacity, checked for writes past the end.
constexpr std::size_t kGuardUnits = 16;

int16_t currentEnvironment(FMExprEnv* env) {
  return attachCurrentEnvironment(env);
}

// Clears the record for a new message, keeping what the host always fills:
// the version, the instance and the callback.
void resetRecord(LoadedPlugin& plugin, uint8_t message) {
  FMCallRecord& record = *plugin.record;
  const uint16_t version = record.hostVersion;
  std::memset(&record, 0, sizeof record);
  record.hostVersion = version;
  record.message = message;
  record.instance = plugin.library;
  record.currentEnvironment = currentEnvironment;
}

// Calls the entry; an exception it lets escape is recorded, not passed on.
void deliver(LoadedPlugin& plugin) {
  try {
    plugin.entry(plugin.record.get());
  } catch (...) {
    recordViolation("FMExternCallProc: an exception escaped the plug-in's entry");
  }
}

}  // namespace

std::optional<LoadedPlugin> loadPlugin(const std::string& path, std::string* error) {
  // RTLD_NOW: a host operation the plug-in needs and the host lacks is
  // reported here, not at its first call.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "cannot load " + path;
    return std::nullopt;
  }
  void* entry = dlsym(library, FM_ENTRY_POINT_NAME);
  if (entry == nullptr) {
    *error = path + " does not export " FM_ENTRY_POINT_NAME;
    dlclose(library);
    return std::nullopt;
  }
  LoadedPlugin plugin;
  plugin.library = library;
  plugin.entry = reinterpret_cast<FMEntryPoint>(entry);
  plugin.record = std::make_unique<FMCallRecord>();
  plugin.record->hostVersion = kHostVersion;
  resetRecord(plugin, 0);
  return plugin;
}

void unloadPlugin(LoadedPlugin& plugin) {
  if (plugin.library != nullptr) dlclose(plugin.library);
  plugin.library = nullptr;
  plugin.entry = nullptr;
  plugin.record.reset();
}

int64_t enablePlugin(LoadedPlugin& plugin, uint16_t hostVersion) {
  plugin.record->hostVersion = hostVersion;
  resetRecord(plugin, FM_MESSAGE_ENABLE);
  plugin.record->result = kUntouchedResult;
  deliver(plugin);
  return plugin.record->result;
}

void shutdownPlugin(LoadedPlugin& plugin) {
  sendMessage(plugin, FM_MESSAGE_SHUTDOWN);
}

std::optional<std::u16string> pluginString(LoadedPlugin& plugin, uint8_t id, uint32_t capacity) {
  std::vector<char16_t> buffer(std::size_t{capacity} + kGuardUnits, kUnwritten);
  resetRecord(plugin, FM_MESSAGE_GET_STRING);
  plugin.record->parameter1 = id;
  plugin.record->parameter3 = capacity;
  plugin.record->result = static_cast<int64_t>(reinterpret_cast<intptr_t>(buffer.data()));
  deliver(plugin);
  for (std::size_t i = capacity; i < buffer.size(); ++i) {
    if (buffer[i] != kUnwritten) {
      recordViolation("get string " + std::to_string(id) + ": the plug-in wrote past the " +
                      std::to_string(capacity) + " units of the buffer");
      break;
    }
  }
  if (capacity == 0 || buffer[0] == kUnwritten) return std::nullopt;
  std::size_t length = 0;
  while (length < capacity && buffer[length] != 0) ++length;
  return std::u16string(buffer.data(), length);
}

int64_t sendMessage(LoadedPlugin& plugin, uint8_t message) {
  resetRecord(plugin, message);
  plugin.record->result = kUntouchedResult;
  deliver(plugin);
  return plugin.record->result;
}

}  // namespace vesko_host
