#include "engine/error_record.h"

#include <string>

#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

namespace {

// Made when the library is loaded and deleted when it is unloaded: they
// outlive every interpreter.
FMText* codeText = nullptr;
FMText* messageText = nullptr;

// Recreates a text the host could not make at load time, so a record that
// failed once can still be written later.
FMText* ensure(FMText*& text) {
  if (text == nullptr) text = host::newText().release();
  return text;
}

}  // namespace

void createErrorRecord() noexcept {
  try {
    ensure(codeText);
    ensure(messageText);
  } catch (const std::exception&) {
    // Left null; the first writer tries again.
  }
}

void destroyErrorRecord() noexcept {
  if (codeText != nullptr) host::deleteObject(codeText);
  if (messageText != nullptr) host::deleteObject(messageText);
  codeText = messageText = nullptr;
}

const FMText* errorCodeText() {
  return codeText;
}
const FMText* errorMessageText() {
  return messageText;
}

void setError(std::string_view code, std::string_view message) {
  host::textAssign(ensure(codeText), code, host::kNative);
  host::textAssign(ensure(messageText), message, host::kNative);
}

void setErrorFromLua(std::string_view code, lua_State* L) {
  std::string fallback;
  const char* message = nullptr;
  const int type = lua_type(L, -1);
  if (type == LUA_TSTRING || type == LUA_TNUMBER) {
    lua_pushvalue(L, -1);  // converting a number in place would change the value
    message = lua_tostring(L, -1);
  } else {
    fallback = std::string("(error object is a ") + lua_typename(L, type) + " value)";
    lua_pushnil(L);
    message = fallback.c_str();
  }
  try {
    host::textAssign(ensure(codeText), code, host::kNative);
    host::textAssign(ensure(messageText), message, host::kUtf8);
  } catch (...) {
    lua_pop(L, 1);
    throw;
  }
  lua_pop(L, 1);
}

}  // namespace vesko
