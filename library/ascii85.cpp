#include "library/ascii85.h"

#include <cstdint>

#include <lua.hpp>

#include "engine/loop_deadline.h"
#include "library/lua_buffer.h"

namespace vesko {

namespace {

constexpr unsigned char kFirstDigit = '!';
constexpr unsigned char kLastDigit = 'u';

// Writes the five base-85 digits of `value`, most significant first.
void toDigits(std::uint32_t value, char* out) {
  for (int k = 4; k >= 0; --k, value /= 85) out[k] = static_cast<char>(kFirstDigit + value % 85);
}

// Appends the `count` high bytes of `value`.
void addWordBytes(luaL_Buffer* b, std::uint32_t value, std::size_t count) {
  char* out = bufferRoom(b, count);
  for (std::size_t k = 0; k < count; ++k) out[k] = static_cast<char>(value >> (24 - 8 * k));
  luaL_addsize(b, count);
}

bool isSkipped(unsigned char c) {
  switch (c) {
    case '\0':
    case '\b':
    case '\t':
    case '\n':
    case '\f':
    case '\r':
    case ' ':
    case 0x7F:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ascii85.encode(s): [-0, +1] all bytes of s in Ascii85 between "<~" and
// "~>"; a group of four zero bytes is written "z".
int ascii85Encode(lua_State* L) {
  std::size_t n;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &n));
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  luaL_addstring(&b, "<~");
  engine::LoopDeadline deadline(L);
  while (n > 0) {
    deadline.step();
    // A short last group is padded with zeros and keeps one digit more than
    // it has bytes; it is never written as "z".
    const std::size_t bytes = n < 4 ? n : 4;
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k) value = value << 8 | (k < bytes ? s[k] : 0u);
    char* out = bufferRoom(&b, 5);
    if (value == 0 && bytes == 4) {
      out[0] = 'z';
      luaL_addsize(&b, 1);
    } else {
      toDigits(value, out);
      luaL_addsize(&b, bytes + 1);
    }
    s += bytes;
    n -= bytes;
  }
  luaL_addstring(&b, "~>");
  luaL_pushresult(&b);
  return 1;
}

// ascii85.decode(s): [-0, +1] the bytes s encodes, from its leading "<~" to
// the first "~>"; [-0, +0] no value at all when s is malformed.  White space,
// NUL and DEL are skipped.
int ascii85Decode(lua_State* L) {
  std::size_t n;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &n));
  if (n < 2 || s[0] != '<' || s[1] != '~') return 0;
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  // `value` holds the `pending` digits read since the last full group, in a
  // width that a group above 2^32 - 1 cannot wrap.
  std::uint64_t value = 0;
  std::size_t pending = 0;
  engine::LoopDeadline deadline(L);
  for (std::size_t i = 2; i < n; ++i) {
    deadline.step();
    const unsigned char c = s[i];
    if (c >= kFirstDigit && c <= kLastDigit) {
      value = value * 85 + (c - kFirstDigit);
      if (++pending == 5) {
        if (value > UINT32_MAX) return 0;
        addWordBytes(&b, static_cast<std::uint32_t>(value), 4);
        value = 0;
        pending = 0;
      }
    } else if (c == 'z') {
      addWordBytes(&b, 0, 4);  // Even inside a group, which stays pending.
    } else if (c == '~') {
      if (i + 1 == n || s[i + 1] != '>') return 0;
      if (pending >= 2) {
        // The missing digits count as the largest digit, so that the bytes
        // kept round up to what was encoded.
        for (std::size_t k = pending; k < 5; ++k) value = value * 85 + (kLastDigit - kFirstDigit);
        if (value > UINT32_MAX) return 0;
        addWordBytes(&b, static_cast<std::uint32_t>(value), pending - 1);
      }
      luaL_pushresult(&b);
      return 1;
    } else if (!isSkipped(c)) {
      return 0;
    }
  }
  return 0;  // No "~>": the input was cut short.
}

namespace {

const luaL_Reg kAscii85Functions[] = {
    {"encode", ascii85Encode},
    {"decode", ascii85Decode},
    {nullptr, nullptr},
};

}  // namespace

// ascii85 opener: [-0, +1] fills and returns the table `ascii85`.
int openAscii85(lua_State* L) {
  luaL_register(L, "ascii85", kAscii85Functions);
  lua_pushliteral(L, "ascii85 library for Lua 5.1 / Mar 2010");
  lua_setfield(L, -2, "version");
  return 1;
}

}  // namespace vesko
