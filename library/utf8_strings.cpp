#include "library/utf8_strings.h"

#include <cstdint>
#include <cstring>

#include <lua.hpp>

#include "library/utf8_validity.h"

namespace vesko {

namespace {

// A string argument as bytes.  `length` counts the bytes before the first
// NUL: the scans stop there, and the NUL that ends every Lua string keeps
// each of them inside it.
const unsigned char* checkBytes(lua_State* L, int arg, std::size_t* length) {
  const char* s = luaL_checkstring(L, arg);
  *length = std::strlen(s);
  return reinterpret_cast<const unsigned char*>(s);
}

// Integer arguments are used as signed 32-bit values.
std::int32_t checkInt32(lua_State* L, int arg) {
  return static_cast<std::int32_t>(luaL_checkinteger(L, arg));
}

// [-0, +1] nil, as a single result.
int pushNil(lua_State* L) {
  lua_pushnil(L);
  return 1;
}

// The BOM stands for code point 0 both ways, so that a NUL never has to
// travel inside a string.
const char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

// string.nextutf8(s, i): [-0, +2] the position after the character at byte
// i and that character; [-0, +1] nil when i is past the end, at a NUL or
// negative.  Iterating calls it once per character, so it looks at the
// bytes at i only: measuring the text up to its first NUL on every step
// would make a walk over a long text quadratic.
int nextUtf8(lua_State* L) {
  std::size_t length;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &length));
  const std::int64_t i = checkInt32(L, 2);
  if (i < 0 || i > static_cast<std::int64_t>(length)) return pushNil(L);
  if (i == 0) return luaL_error(L, "bad index value : 0");
  const unsigned char* p = s + (i - 1);
  if (*p == 0) return pushNil(L);
  const int k = utf8CharLength(p);
  if (k == 0) return luaL_error(L, "invalid utf-8 string");
  lua_pushinteger(L, static_cast<lua_Integer>(i + k));
  lua_pushlstring(L, reinterpret_cast<const char*>(p), static_cast<std::size_t>(k));
  return 2;
}

// string.utf8len(s): [-0, +1] the number of characters before the first NUL.
int utf8Len(lua_State* L) {
  std::size_t length;
  const unsigned char* s = checkBytes(L, 1, &length);
  lua_Integer count = 0;
  for (std::size_t p = 0; p < length; ++count) {
    const int k = utf8CharLength(s + p);
    if (k == 0) return luaL_error(L, "invalid utf-8 string");
    p += static_cast<std::size_t>(k);
  }
  lua_pushinteger(L, count);
  return 1;
}

// string.seekutf8(s, i, n): [-0, +1] the byte position n characters after
// (n > 0) or before (n < 0) position i, or nil when the walk leaves the
// string or meets an ill-formed sequence.
int seekUtf8(lua_State* L) {
  std::size_t length;
  const unsigned char* s = checkBytes(L, 1, &length);
  const std::int32_t i = checkInt32(L, 2);
  const std::int64_t n = checkInt32(L, 3);
  if (n == 0) {
    lua_pushinteger(L, i);
    return 1;
  }
  const auto last = static_cast<std::int64_t>(length);
  if (i < 1 || i > last) return luaL_error(L, "invalid index (arg #2)");
  if (n > last || -n > last) return pushNil(L);
  // p is 1-based and stays within 1 .. length + 1 on every path below.
  std::int64_t p = i;
  for (std::int64_t step = 0; step < n; ++step) {
    if (p == last + 1) return pushNil(L);
    const int k = utf8CharLength(s + (p - 1));
    // A multi-byte character that ends the string cannot be stepped over:
    // the walk gives nil there, where a final one-byte character gives
    // length + 1.
    if (k == 0 || (k > 1 && p + k - 1 == last)) return pushNil(L);
    p += k;
  }
  for (std::int64_t step = 0; step > n; --step) {
    const int k = utf8PrevCharLength(s, static_cast<std::size_t>(p - 1));
    if (k == 0) return pushNil(L);
    p -= k;
  }
  lua_pushinteger(L, static_cast<lua_Integer>(p));
  return 1;
}

// string.utf8code(s): [-0, +1] the code point of s, which must be exactly
// one well-formed character; the byte-order mark gives 0.
int utf8Code(lua_State* L) {
  std::size_t length;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &length));
  const int k = utf8CharLength(s);
  if (length != static_cast<std::size_t>(k)) return luaL_error(L, "invalid utf-8 string");
  if (length == 3 && std::memcmp(s, kByteOrderMark, 3) == 0) {
    lua_pushinteger(L, 0);
    return 1;
  }
  // The lead keeps 7, 5, 4 or 3 payload bits; each continuation adds 6.
  static const unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  lua_Integer code = s[0] & kLeadMask[k];
  for (int j = 1; j < k; ++j) code = (code << 6) | (s[j] & 0x3F);
  lua_pushinteger(L, code);
  return 1;
}

// string.utf8char(code): [-0, +1] the UTF-8 encoding of code; 0 gives the
// byte-order mark.
int utf8Char(lua_State* L) {
  const std::int32_t code = checkInt32(L, 1);
  if (code < 0 || code >= 0x110000 || (code >= 0xD800 && code <= 0xDFFF)) {
    return luaL_error(L, "invalid utf-8 code");
  }
  if (code == 0) {
    lua_pushlstring(L, kByteOrderMark, 3);
    return 1;
  }
  const auto c = static_cast<std::uint32_t>(code);
  unsigned char out[4];
  std::size_t n;
  if (c < 0x80) {
    out[0] = static_cast<unsigned char>(c);
    n = 1;
  } else if (c < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
    n = 2;
  } else if (c < 0x10000) {
    out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
    n = 3;
  } else {
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    n = 4;
  }
  for (std::size_t j = 1; j < n; ++j) {
    out[j] = static_cast<unsigned char>(0x80 | ((c >> (6 * (n - 1 - j))) & 0x3F));
  }
  lua_pushlstring(L, reinterpret_cast<const char*>(out), n);
  return 1;
}

namespace {

const luaL_Reg kUtf8Functions[] = {
    {"nextutf8", nextUtf8},       {"utf8len", utf8Len},   {"seekutf8", seekUtf8},
    {"utf8code", utf8Code},       {"utf8char", utf8Char}, {"isvalidutf8", isValidUtf8},
    {"is7bitascii", is7BitAscii}, {nullptr, nullptr},
};

}  // namespace

// luautf8 opener: [-0, +1] fills and returns the `string` table, the same
// one string methods look in.
int openUtf8Strings(lua_State* L) {
  luaL_register(L, LUA_STRLIBNAME, kUtf8Functions);
  return 1;
}

}  // namespace vesko
