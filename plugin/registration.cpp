#include "plugin/registration.h"

#include <cstdint>

#include "functions/external_functions.h"
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

// Number n's name and prototype are string n + 100.
constexpr Function kFunctions[] = {
    {1, 0, 1, externalFunction<Reach::kHost, version>},
    {2, 0, 1, externalFunction<Reach::kRecord, lastError>},
    {3, 1, kAnyNumber, externalFunction<Reach::kLua, runScript>},
    {4, 1, kAnyNumber, externalFunction<Reach::kLua, runFile>},
    {5, 1, kAnyNumber, externalFunction<Reach::kLua, callFunction>},
    {6, 0, 2, externalFunction<Reach::kHost, timeout>},
    {7, 0, kAnyNumber, externalFunction<Reach::kLua, resumeFunction>},
};

void assignPrototype(FMText* text, int16_t number) {
  char16_t buffer[1024] = {};
  loadResourceString(host::pluginInstance(), kStringFirstPrototype + number - 1, buffer, 1024);
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

// Functions the host holds for us: bit n for function number n.  Set when
// a registration succeeds, cleared when a withdrawal does, so that what a
// failed shutdown left registered is withdrawn before the next enable.
unsigned registeredMask = 0;

// Answers whether the host no longer holds the function.  A host failure
// (making the identifier or withdrawing) gets one more try.
bool unregisterOne(int16_t number) noexcept {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      host::QuadChar id = host::newQuadChar(kPluginId);
      host::unregisterFunction(id.get(), number);
      registeredMask &= ~(1u << number);
      return true;
    } catch (const std::exception&) {
      // Withdrawing is best effort; the next enable tries again.
    }
  }
  return false;
}

// Withdraws, in descending order, the functions numbered `highest` to 1
// that the host may still hold.
void unregisterDown(int highest) noexcept {
  for (int n = highest; n >= 1; --n) {
    if ((registeredMask & (1u << n)) != 0) unregisterOne(static_cast<int16_t>(n));
  }
}

}  // namespace

bool registerFunctions() {
  unregisterDown(static_cast<int>(std::size(kFunctions)));
  int registered = 0;
  try {
    for (const Function& function : kFunctions) {
      if (!registerOne(function)) break;
      registeredMask |= 1u << function.number;
      ++registered;
    }
  } catch (const std::exception&) {
    // A host failure while registering is a failed registration.
  }
  if (registered == static_cast<int>(std::size(kFunctions))) return true;
  unregisterDown(registered);
  return false;
}

void unregisterFunctions() noexcept {
  unregisterDown(static_cast<int>(std::size(kFunctions)));
}

}  // namespace vesko
