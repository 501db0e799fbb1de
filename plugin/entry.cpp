// FMExternCallProc: the plug-in's one exported function.  The host calls it
// to enable the plug-in, to shut it down and to fetch its strings.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "api/fm_api.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "functions/call_boundary.h"
#include "functions/conversion.h"
#include "library/library_set.h"
#include "plugin/registration.h"
#include "plugin/string_table.h"

namespace vesko {

namespace {

constexpr int64_t kEnabled = 53;
constexpr int64_t kBadVersion = -1;
constexpr int64_t kStartFailed = -2;

constexpr uint8_t kStringIdName = 128;
constexpr uint8_t kStringIdDescription = 129;
constexpr uint8_t kStringIdOptions = 131;
constexpr std::u16string_view kOptions = u"VSKO1nnYnnn";

// The error record lives from load to unload, outside any interpreter.
// Destroyed at unload (or exit) before the host's own state goes, with the
// working number if no shutdown deleted it.
struct ErrorRecordLifetime {
  ErrorRecordLifetime() { createErrorRecord(); }
  ~ErrorRecordLifetime() {
    releaseWorkingNumber();
    destroyErrorRecord();
  }
} errorRecordLifetime;

void shutDown() {
  unregisterFunctions();
  engine::shutdown();
  releaseWorkingNumber();
}

int64_t enable(uint16_t hostVersion) {
  // Versions 50 to 255 only; the unsigned 16-bit difference catches both ends.
  if (static_cast<uint16_t>(hostVersion - 50) > 205) return kBadVersion;
  // Enabled twice without a shutdown between: start again from scratch
  // rather than leak the running interpreter.
  if (engine::mainState != nullptr) shutDown();
  try {
    if (!engine::start(openLibrarySet)) return kStartFailed;
  } catch (const std::exception&) {
    engine::shutdown();
    return kStartFailed;
  }
  if (!registerFunctions()) {
    engine::shutdown();
    return kStartFailed;
  }
  return kEnabled;
}

void answerString(FMCallRecord* record) {
  auto* buffer = reinterpret_cast<char16_t*>(record->result);
  const auto capacity = static_cast<int>(static_cast<uint32_t>(record->parameter3));
  switch (record->parameter1) {
    case kStringIdName:
      loadResourceString(record->instance, kStringName, buffer, capacity);
      break;
    case kStringIdDescription:
      loadResourceString(record->instance, kStringDescription, buffer, capacity);
      break;
    case kStringIdOptions: {
      // Written whole with its terminator; a smaller buffer gets what fits.
      if (buffer == nullptr || capacity <= 0) break;
      const std::size_t count = std::min(kOptions.size(), static_cast<std::size_t>(capacity - 1));
      std::copy_n(kOptions.data(), count, buffer);
      buffer[count] = u'\0';
      break;
    }
    default:
      break;  // nothing is written for any other identifier
  }
}

void handleMessage(FMCallRecord* record) {
  switch (record->message) {
    case FM_MESSAGE_ENABLE:
      record->result = enable(record->hostVersion);
      break;
    case FM_MESSAGE_SHUTDOWN:
      shutDown();
      break;
    case FM_MESSAGE_GET_STRING:
      answerString(record);
      break;
    default:
      break;
  }
}

}  // namespace

}  // namespace vesko

extern "C" __attribute__((visibility("default"))) void FMExternCallProc(FMCallRecord* record) {
  if (record == nullptr) return;
  vesko::enterHostMessage(vesko::handleMessage, record);
}
