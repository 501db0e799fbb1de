#include "fuzz/fuzz_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <lua.hpp>

#include "tests/library/library_state.h"

namespace vesko {

lua_State* fuzzState() {
  static lua_State* const L = newLibraryState();
  return L;
}

void require(bool holds, const char* message) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", message);
  std::abort();
}

void runDriver(const char* driver, std::initializer_list<std::string_view> args) {
  lua_State* L = fuzzState();
  lua_settop(L, 0);
  // Compiled drivers are kept in the registry under their text's address.
  lua_pushlightuserdata(L, const_cast<char*>(driver));
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    if (luaL_loadstring(L, driver) != 0) require(false, lua_tostring(L, -1));
    lua_pushlightuserdata(L, const_cast<char*>(driver));
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
  }
  for (const std::string_view arg : args) lua_pushlstring(L, arg.data(), arg.size());
  if (lua_pcall(L, static_cast<int>(args.size()), 0, 0) != 0) require(false, lua_tostring(L, -1));
}

FuzzInput splitInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input;
  const auto* text = reinterpret_cast<const char*>(data);
  if (size == 0) return input;
  input.parameter = data[0];
  if (size == 1) return input;
  const std::size_t firstSize = std::min<std::size_t>(data[1], size - 2);
  input.first = std::string_view(text + 2, firstSize);
  input.second = std::string_view(text + 2 + firstSize, size - 2 - firstSize);
  return input;
}

}  // namespace vesko
