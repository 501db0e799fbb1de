#include "functions/conversion.h"

#include <cstring>

#include "library/timestamp.h"
#include "library/utf8_validity.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

ArgumentText readArgumentText(const FMDataVect* parameters, uint32_t index) {
  ArgumentText text;
  // The parameter's text is lent for the length of the call, so it is read
  // where it is rather than copied into a text of our own first.
  const FMText* parameter = host::vectAtAsText(parameters, index);
  // Four bytes per UTF-16 unit and one for the terminator always suffice.
  const std::size_t capacity = 4 * static_cast<std::size_t>(host::textSize(parameter)) + 1;
  std::unique_ptr<char[]> bytes;
  if (capacity > ArgumentText::kInline) bytes = std::make_unique_for_overwrite<char[]>(capacity);
  char* buffer = bytes ? bytes.get() : text.inlineBytes;
  host::textGetBytes(parameter, buffer, static_cast<uint32_t>(capacity), host::kUtf8);
  buffer[capacity - 1] = '\0';
  text.length = std::strlen(buffer);
  text.bytes = std::move(bytes);
  return text;
}

namespace {

// The one host number that number results and timestamp conversions go
// through, made on first use and deleted at shutdown rather than made and
// deleted per value.  It only ever holds a value between two host
// operations, with no Lua code between them, so nested calls can share it.
// Its precision is always 16: nothing sets another.
FMFixPt* workingNumberObject = nullptr;

FMFixPt* workingNumber() {
  if (workingNumberObject == nullptr) workingNumberObject = host::newFixPt().release();
  return workingNumberObject;
}

// [-0, +1]
void pushArgument(lua_State* L, const FMDataVect* parameters, uint32_t index) {
  switch (host::dataKind(host::vectAt(parameters, index))) {
    case FM_KIND_NUMBER:
      lua_pushnumber(L, host::fixPtAsFloat(host::vectAtAsNumber(parameters, index)));
      break;
    case FM_KIND_TEXT: {
      const ArgumentText text = readArgumentText(parameters, index);
      lua_pushlstring(L, text.data(), text.length);
      break;
    }
    case FM_KIND_DATE:
    case FM_KIND_TIME:
    case FM_KIND_TIMESTAMP: {
      FMFixPt* number = workingNumber();
      host::dateTimeSeconds(host::vectAtAsTimeStamp(parameters, index), number);
      // Read before the userdata is made: making it may run a finalizer,
      // and a nested call may then use the working number.
      const double seconds = host::fixPtAsFloat(number);
      *newTimestamp(L) = seconds - kTimestampEpochOffset;
      break;
    }
    default:
      lua_pushnil(L);
  }
}

}  // namespace

void releaseWorkingNumber() noexcept {
  if (workingNumberObject != nullptr) host::deleteObject(workingNumberObject);
  workingNumberObject = nullptr;
}

bool pushArguments(lua_State* L, const FMDataVect* parameters, uint32_t count, uint32_t first) {
  if (count <= first) return true;
  if (count - first > static_cast<uint32_t>(LUAI_MAXCSTACK) ||
      !lua_checkstack(L, static_cast<int>(count - first))) {
    return false;
  }
  const int top = lua_gettop(L);
  try {
    for (uint32_t i = first; i < count; ++i) pushArgument(L, parameters, i);
  } catch (const std::exception&) {
    // A host failure.  A Lua error (a finalizer's, raised by an allocation)
    // is the interpreter's own unwinding and passes untouched: its error
    // value is on top of the stack.
    lua_settop(L, top);
    throw;
  }
  return true;
}

int16_t toHostValue(lua_State* L, int index, FMData* out, FMFixPt* number, StringRule rule,
                    const FMLocale* locale, const FMDataVect* parameters) {
  switch (lua_type(L, index)) {
    case LUA_TBOOLEAN:
      host::fixPtAssignInt(number, lua_toboolean(L, index) ? 1 : 0);
      host::dataSetNumber(out, number, FM_KIND_NUMBER);
      return 0;
    case LUA_TNUMBER:
      host::fixPtAssignDouble(number, lua_tonumber(L, index));
      host::fixPtSetPrecision(number, 16);
      host::dataSetNumber(out, number, FM_KIND_NUMBER);
      return 0;
    case LUA_TSTRING: {
      std::size_t length = 0;
      const char* bytes = lua_tolstring(L, index, &length);
      if (rule == StringRule::kWellFormedPrefix) length = utf8ValidPrefixLength(bytes);
      if (rule == StringRule::kWhole) length = std::strlen(bytes);
      host::Text text = host::newText();
      host::textAssign(text.get(), std::string_view(bytes, length), host::kUtf8);
      host::Locale systemLocale;
      if (locale == nullptr) {
        if (parameters != nullptr && host::vectSize(parameters) > 0) {
          locale = host::dataLocale(host::vectAt(parameters, 0));
        } else {
          systemLocale = host::newLocale(1);
          locale = systemLocale.get();
        }
      }
      return host::dataSetText(out, text.get(), locale, FM_KIND_TEXT);
    }
    case LUA_TUSERDATA: {
      const double* payload = toTimestamp(L, index);
      if (payload == nullptr) return kNoHostValue;
      host::fixPtAssignDouble(number, *payload + kTimestampEpochOffset);
      host::DateTime when = host::newDateTime();
      host::dateTimeSetSeconds(when.get(), number);
      host::dataSetTimeStamp(out, when.get(), FM_KIND_TIMESTAMP);
      return 0;
    }
    default:
      return kNoHostValue;
  }
}

int16_t storeValue(lua_State* L, int index, FMData* result, const FMDataVect* parameters,
                   StringRule rule, int16_t defaultCode) {
  const int type = lua_type(L, index);
  if (type != LUA_TBOOLEAN && type != LUA_TNUMBER && type != LUA_TSTRING && type != LUA_TUSERDATA) {
    return defaultCode;  // nil, tables, functions, threads, light userdata
  }
  const int16_t code = toHostValue(L, index, result, workingNumber(), rule, nullptr, parameters);
  return type == LUA_TSTRING ? code : defaultCode;
}

int16_t storeResult(lua_State* L, const FMDataVect* parameters, FMData* result,
                    int16_t defaultCode) {
  if (lua_gettop(L) == 0) return defaultCode;
  return storeValue(L, 1, result, parameters, StringRule::kWellFormedPrefix, defaultCode);
}

}  // namespace vesko
