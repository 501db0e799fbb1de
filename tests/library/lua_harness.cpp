#include "tests/library/lua_harness.h"

#include <gtest/gtest.h>
#include <lua.hpp>

#include "tests/library/library_state.h"

namespace vesko {

namespace {

// Drops the "test:<line>: " or "[string \"...\"]:<line>: " in front of a
// message.
std::string withoutPosition(const std::string& message) {
  std::size_t p;
  if (message.starts_with("test:")) {
    p = 5;
  } else if (message.starts_with("[string \"")) {
    p = message.find("\"]:");
    if (p == std::string::npos) return message;
    p += 3;
  } else {
    return message;
  }
  std::size_t digits = p;
  while (digits < message.size() && message[digits] >= '0' && message[digits] <= '9') ++digits;
  if (digits == p || message.compare(digits, 2, ": ") != 0) return message;
  return message.substr(digits + 2);
}

}  // namespace

LuaHarness::LuaHarness() : L_(newLibraryState()) {}

LuaHarness::~LuaHarness() {
  lua_close(L_);
}

int LuaHarness::call(std::string_view chunk, std::initializer_list<std::string_view> args) {
  lua_settop(L_, 0);
  int status = luaL_loadbuffer(L_, chunk.data(), chunk.size(), "=test");
  if (status != 0) return status;
  for (const std::string_view arg : args) lua_pushlstring(L_, arg.data(), arg.size());
  return lua_pcall(L_, static_cast<int>(args.size()), LUA_MULTRET, 0);
}

Results LuaHarness::run(std::string_view chunk, std::initializer_list<std::string_view> args) {
  if (call(chunk, args) != 0) {
    std::string message = lua_tostring(L_, -1);
    ADD_FAILURE() << "error in " << chunk << ": " << message;
    return {"error: " + message};
  }
  Results results;
  for (int k = 1; k <= lua_gettop(L_); ++k) {
    switch (lua_type(L_, k)) {
      case LUA_TNIL:
        results.emplace_back("nil");
        break;
      case LUA_TBOOLEAN:
        results.emplace_back(lua_toboolean(L_, k) ? "true" : "false");
        break;
      case LUA_TNUMBER:
      case LUA_TSTRING: {
        std::size_t length;
        const char* text = lua_tolstring(L_, k, &length);
        results.emplace_back(text, length);
        break;
      }
      default:
        results.emplace_back(luaL_typename(L_, k));
        break;
    }
  }
  return results;
}

std::string LuaHarness::errorWithPosition(std::string_view chunk,
                                          std::initializer_list<std::string_view> args) {
  if (call(chunk, args) == 0) return "no error";
  return lua_tostring(L_, -1);
}

std::string LuaHarness::error(std::string_view chunk,
                              std::initializer_list<std::string_view> args) {
  return withoutPosition(errorWithPosition(chunk, args));
}

}  // namespace vesko
