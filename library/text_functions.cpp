#include "library/text_functions.h"

#include <cstring>

#include <lua.hpp>

#include "library/edit_distance.h"
#include "library/md5.h"

namespace vesko {

std::uint32_t fnv1a32(std::string_view bytes) {
  std::uint32_t hash = 0x811C9DC5;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x01000193;
  }
  return hash;
}

// vesko.damlevlim(a, b, limit): [-0, +1] the distance between the first 255
// bytes before the first NUL of a and of b, never more than limit.
int damlevlim(lua_State* L) {
  const char* a = luaL_checkstring(L, 1);
  const char* b = luaL_checkstring(L, 2);
  const auto limit = static_cast<std::int32_t>(luaL_checkinteger(L, 3));
  // strnlen keeps a long string from being scanned past what is compared.
  const std::string_view first(a, strnlen(a, kEditDistanceMaxLength));
  const std::string_view second(b, strnlen(b, kEditDistanceMaxLength));
  lua_pushinteger(L, limitedEditDistance(first, second, limit));
  return 1;
}

// vesko.fnv32a(s): [-0, +1] the FNV-1a hash of the bytes before the first NUL.
int fnv32a(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(fnv1a32(luaL_checkstring(L, 1))));
  return 1;
}

// vesko.md5(s): [-0, +1] the MD5 digest of the bytes before the first NUL, in
// hexadecimal.
int md5(lua_State* L) {
  static const char kHexDigits[] = "0123456789abcdef";
  const Md5Digest digest = md5Digest(luaL_checkstring(L, 1));
  char text[2 * digest.size()];
  for (std::size_t k = 0; k < digest.size(); ++k) {
    text[2 * k] = kHexDigits[digest[k] >> 4];
    text[2 * k + 1] = kHexDigits[digest[k] & 0x0F];
  }
  lua_pushlstring(L, text, sizeof text);
  return 1;
}

}  // namespace vesko
