#include "tests/library/library_state.h"

#include <stdexcept>
#include <string>

#include <lua.hpp>

#include "library/library_set.h"

namespace vesko {

namespace {

int openSet(lua_State* L) {
  openLibrarySet(L);
  return 0;
}

}  // namespace

lua_State* newLibraryState() {
  lua_State* L = luaL_newstate();
  if (L == nullptr) throw std::runtime_error("no memory for an interpreter");
  if (lua_cpcall(L, openSet, nullptr) != 0) {
    const std::string message = lua_tostring(L, -1);
    lua_close(L);
    throw std::runtime_error(message);
  }
  return L;
}

}  // namespace vesko
