// Size limits on lua-cjson, whose buffers lie outside the interpreter's
// ceiling.
#include <algorithm>
#include <cmath>

#include <lua.hpp>

#include "engine/allocator.h"
#include "engine/library_guards/checks.h"

namespace vesko::engine {

namespace {

// lua-cjson sizes its buffers in an int (6 bytes reserved per byte of a
// string it encodes), and its buffers come from malloc, outside the
// interpreter's ceiling; when malloc fails it ends the process.  So no text
// it encodes or decodes may be larger than this, nor than the ceiling.
constexpr double kLargestJson = 256.0 * 1024 * 1024;
double largestJson() {
  const auto ceiling = static_cast<double>(memoryCeiling());
  return ceiling != 0 && ceiling < kLargestJson ? ceiling : kLargestJson;
}

// Deeper than lua-cjson encodes by default: it refuses such a value itself.
constexpr int kDeepestJson = 1000;

// More than the bytes lua-cjson writes for the value at `index` (an
// absolute index), whatever its settings; the count stops soon after it
// passes `limit`.  Holes in an array are written as null.  Reads tables raw,
// as lua-cjson does, so no Lua code runs.
double jsonSizeBound(lua_State* L, int index, int depth, double limit) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING:
      return 6.0 * static_cast<double>(lua_objlen(L, index)) + 2;
    case LUA_TTABLE:
      break;
    default:
      return 32;  // a number, a boolean, null
  }
  if (depth > kDeepestJson || !lua_checkstack(L, 3)) return 2;
  double size = 2;
  double highestIndex = 0;
  bool array = true;  // only positive integer keys: written as an array
  lua_pushnil(L);
  while (size <= limit && lua_next(L, index) != 0) {
    const int top = lua_gettop(L);
    const double key = lua_type(L, top - 1) == LUA_TNUMBER ? lua_tonumber(L, top - 1) : 0;
    if (key >= 1 && key == std::floor(key)) {
      highestIndex = std::max(highestIndex, key);
    } else {
      array = false;
    }
    size +=
        jsonSizeBound(L, top - 1, depth + 1, limit) + jsonSizeBound(L, top, depth + 1, limit) + 4;
    lua_pop(L, 1);
  }
  if (size > limit) lua_pop(L, 1);  // the key lua_next left
  return array ? size + 5 * std::min(highestIndex, limit) : size;
}

}  // namespace

int checkJsonEncode(lua_State* L) {
  const double limit = largestJson();
  if (lua_gettop(L) >= 1 && jsonSizeBound(L, 1, 0, limit) > limit) {
    luaL_argerror(L, 1, "too large to encode");
  }
  return kRunLibrary;
}

int checkJsonDecode(lua_State* L) {
  if (lua_type(L, 1) == LUA_TSTRING && static_cast<double>(lua_objlen(L, 1)) > largestJson()) {
    luaL_argerror(L, 1, "too large to decode");
  }
  return kRunLibrary;
}

}  // namespace vesko::engine
