#include "tests/library/library_state.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

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

lua_State* newLibraryState(const char* substringScript) {
  const std::string script = readFile(substringScript);
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  openLibrary(L, openUtf8Strings, "luautf8");
  luaL_register(L, "vesko", kTextFunctions);
  lua_pop(L, 1);
  if (luaL_loadstring(L, script.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    const std::string message = lua_tostring(L, -1);
    lua_close(L);
    throw std::runtime_error(message);
  }
  lua_getglobal(L, "string");
  lua_pushcfunction(L, isValidUtf8);
  lua_setfield(L, -2, "isvalidutf8");
  lua_pushcfunction(L, is7BitAscii);
  lua_setfield(L, -2, "is7bitascii");
  lua_pop(L, 1);
  openLibrary(L, openPack, "pack");
  openLibrary(L, openBase64, "base64");
  openLibrary(L, openAscii85, "ascii85");
  return L;
}

}  // namespace vesko
