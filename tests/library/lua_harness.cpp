#include "tests/library/lua_harness.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "library/ascii85.h"
#include "library/base64.h"
#include "library/pack.h"
#include "library/text_functions.h"
#include "library/utf8_strings.h"
#include "library/utf8_validity.h"

namespace vesko {

namespace {

void openLibrary(lua_State* L, lua_CFunction opener, const char* name) {
  lua_pushcfunction(L, opener);
  lua_pushstring(L, name);
  lua_call(L, 1, 0);
}

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Stands in for the vesko table's own opener, which belongs to the engine.
const luaL_Reg kTextFunctions[] = {
    {"damlevlim", damlevlim}, {"fnv32a", fnv32a}, {"md5", md5}, {nullptr, nullptr}};

}  // namespace

LuaHarness::LuaHarness() : L_(luaL_newstate()) {
  luaL_openlibs(L_);
  openLibrary(L_, openUtf8Strings, "luautf8");
  luaL_register(L_, "vesko", kTextFunctions);
  lua_pop(L_, 1);
  const std::string script = readFile(VESKO_UTF8_SUBSTRING_SCRIPT);
  if (luaL_loadstring(L_, script.c_str()) != 0 || lua_pcall(L_, 0, 0, 0) != 0) {
    throw std::runtime_error(lua_tostring(L_, -1));
  }
  lua_getglobal(L_, "string");
  lua_pushcfunction(L_, isValidUtf8);
  lua_setfield(L_, -2, "isvalidutf8");
  lua_pushcfunction(L_, is7BitAscii);
  lua_setfield(L_, -2, "is7bitascii");
  lua_pop(L_, 1);
  openLibrary(L_, openPack, "pack");
  openLibrary(L_, openBase64, "base64");
  openLibrary(L_, openAscii85, "ascii85");
}

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
  static const std::regex kPosition(R"(^(test|\[string "[^"]*"\]):[0-9]+: )");
  return std::regex_replace(errorWithPosition(chunk, args), kPosition, "",
                            std::regex_constants::format_first_only);
}

}  // namespace vesko
