#include "plugin/registration.h"

#include <cstdint>

#include "engine/engine.h"
#include "functions/external_functions.h"
#include "plugin/entry_lock.h"
#include "plugin/host_interface.h"
#include "plugin/string_table.h"

namespace vesko {

namespace {

constexpr uint32_t kFlags = 0xFF01;
constexpr int16_t kAnyNumber = -1;

struct Function {
  int16_t number;
  int16_t minParameters;
  int16_t maxParameters;
  FMExternalFunction handler;
};

// What the host calls: the handler, behind the entry lock.
template <FMExternalFunction handler>
int16_t serialized(int16_t functionId, const FMExprEnv* env, const FMDataVect* parameters,
                   FMData* result) noexcept {
  const std::lock_guard<std::recursive_mutex> entry(entryLock());
  return handler(functionId, env, parameters, result);
}

// Number n's name and prototype are string n + 100.
constexpr Function kFunctions[] = {
    {1, 0, 1, serialized<handleVersion>},
    {2, 0, 1, serialized<handleLastError>},
    {3, 1, kAnyNumber, serialized<handleRunScript>},
    {4, 1, kAnyNumber, serialized<handleRunFile>},
    {5, 1, kAnyNumber, serialized<handleCallFunction>},
    {6, 0, 2, serialized<handleTimeout>},
    {7, 0, kAnyNumber, serialized<handleResumeFunction>},
};

void assignPrototype(FMText* text, int16_t number) {
  char16_t buffer[1024] = {};
  loadResourceString(engine::callRecord->instance, kStringFirstPrototype + number - 1, buffer,
                     1024);
  host::textAssignUnicode(text, buffer);
}

// Answers whether the host accepted the function.
bool registerOne(const Function& function) {
  host::QuadChar id = host::newQuadChar(kPluginId);
  host::Text name = host::newText();
  host::Text prototype = host::newText();
  assignPrototype(name.get(), function.number);
  assignPrototype(prototype.get(), function.number);

  // The name is the prototype up to its "(".
  host::Text parenthesis = host::newText();
  host::textAssign(parenthesis.get(), "(", host::kNative);
  const uint32_t cut = host::textFind(name.get(), parenthesis.get(), 0);
  if (cut != FM_TEXT_NOT_FOUND) {
    host::textDelete(name.get(), cut, host::textSize(name.get()) - cut);
  }
  return host::registerFunction(id.get(), function.number, name.get(), prototype.get(),
                                function.minParameters, function.maxParameters, kFlags,
                                function.handler) == 0;
}

void unregisterOne(const FMQuadChar* id, int16_t number) noexcept {
  try {
    host::unregisterFunction(id, number);
  } catch (const std::exception&) {
    // Withdrawing is best effort; the host drops what it still holds.
  }
}

}  // namespace

bool registerFunctions() {
  int registered = 0;
  try {
    for (const Function& function : kFunctions) {
      if (!registerOne(function)) break;
      ++registered;
    }
  } catch (const std::exception&) {
    // A host failure while registering is a failed registration.
  }
  if (registered == static_cast<int>(std::size(kFunctions))) return true;
  try {
    host::QuadChar id = host::newQuadChar(kPluginId);
    for (int n = registered; n >= 1; --n) unregisterOne(id.get(), static_cast<int16_t>(n));
  } catch (const std::exception&) {
  }
  return false;
}

void unregisterFunctions() noexcept {
  try {
    host::QuadChar id = host::newQuadChar(kPluginId);
    for (int16_t n = 7; n >= 1; --n) unregisterOne(id.get(), n);
  } catch (const std::exception&) {
  }
}

}  // namespace vesko
