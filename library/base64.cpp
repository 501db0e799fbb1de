#include "library/base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include <lua.hpp>

#include "engine/loop_deadline.h"
#include "library/lua_buffer.h"

namespace vesko {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// What an input byte means to the decoder: a 6-bit value below 64, or one of
// these.  All of them have bit 6 set, so one OR tests four bytes at once.
constexpr unsigned char kSkip = 64;
constexpr unsigned char kPad = 65;
constexpr unsigned char kBad = 66;

constexpr std::array<unsigned char, 256> makeDecodeTable() {
  std::array<unsigned char, 256> table{};
  table.fill(kBad);
  for (unsigned char v = 0; v < 64; ++v) table[static_cast<unsigned char>(kAlphabet[v])] = v;
  for (const char c : {'\b', '\t', '\n', '\f', '\r', ' '})
    table[static_cast<unsigned char>(c)] = kSkip;
  table['='] = kPad;
  return table;
}

constexpr std::array<unsigned char, 256> kDecode = makeDecodeTable();

// Three bytes as four characters.
void encodeGroup(const unsigned char* in, char* out) {
  const std::uint32_t v = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
  out[0] = kAlphabet[v >> 18];
  out[1] = kAlphabet[(v >> 12) & 0x3F];
  out[2] = kAlphabet[(v >> 6) & 0x3F];
  out[3] = kAlphabet[v & 0x3F];
}

// Appends the `count` high bytes of the 24-bit `group`.
void addGroupBytes(luaL_Buffer* b, std::uint32_t group, std::size_t count) {
  char* out = bufferRoom(b, count);
  for (std::size_t k = 0; k < count; ++k) out[k] = static_cast<char>(group >> (16 - 8 * k));
  luaL_addsize(b, count);
}

}  // namespace

// base64.encode(s): [-0, +1] all bytes of s in base64, padded with "=".
int base64Encode(lua_State* L) {
  std::size_t n;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &n));
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  constexpr std::size_t kGroupsPerBlock = LUAL_BUFFERSIZE / 4;
  engine::LoopDeadline deadline(L);
  while (n >= 3) {
    const std::size_t groups = std::min(n / 3, kGroupsPerBlock);
    char* out = bufferRoom(&b, 4 * groups);
    for (std::size_t g = 0; g < groups; ++g, s += 3, out += 4) {
      deadline.step();
      encodeGroup(s, out);
    }
    luaL_addsize(&b, 4 * groups);
    n -= 3 * groups;
  }
  if (n > 0) {
    const unsigned char last[3] = {s[0], static_cast<unsigned char>(n == 2 ? s[1] : 0), 0};
    char* out = bufferRoom(&b, 4);
    encodeGroup(last, out);
    out[3] = '=';
    if (n == 1) out[2] = '=';
    luaL_addsize(&b, 4);
  }
  luaL_pushresult(&b);
  return 1;
}

// base64.decode(s): [-0, +1] the bytes s encodes, up to its first "=" or its
// end; [-0, +0] no value at all when s is malformed.  White space is skipped.
int base64Decode(lua_State* L) {
  std::size_t n;
  const auto* s = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &n));
  const unsigned char* const end = s + n;
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  // `group` holds the `pending` 6-bit values read since the last full group.
  std::uint32_t group = 0;
  std::size_t pending = 0;
  bool padded = false;
  engine::LoopDeadline deadline(L);
  while (s < end) {
    deadline.step();
    if (pending == 0) {
      // Fast path: four alphabet characters in a row make three bytes.
      while (end - s >= 4) {
        deadline.step();
        const unsigned v0 = kDecode[s[0]], v1 = kDecode[s[1]], v2 = kDecode[s[2]],
                       v3 = kDecode[s[3]];
        if ((v0 | v1 | v2 | v3) & 64) break;
        addGroupBytes(&b, v0 << 18 | v1 << 12 | v2 << 6 | v3, 3);
        s += 4;
      }
      if (s == end) break;
    }
    const unsigned char v = kDecode[*s++];
    if (v < 64) {
      group = group << 6 | v;
      if (++pending == 4) {
        addGroupBytes(&b, group, 3);
        group = 0;
        pending = 0;
      }
    } else if (v == kPad) {
      padded = true;
      break;
    } else if (v == kBad) {
      return 0;  // A NUL, too, is malformed: only the string's length ends it.
    }
  }
  // The end of the input completes a group as "=" does, but a lone value
  // there means a character was lost.
  if (pending == 1 && !padded) return 0;
  if (pending >= 2) addGroupBytes(&b, group << (6 * (4 - pending)), pending - 1);
  luaL_pushresult(&b);
  return 1;
}

namespace {

const luaL_Reg kBase64Functions[] = {
    {"encode", base64Encode},
    {"decode", base64Decode},
    {nullptr, nullptr},
};

}  // namespace

// base64 opener: [-0, +1] fills and returns the table `base64`.
int openBase64(lua_State* L) {
  luaL_register(L, "base64", kBase64Functions);
  lua_pushliteral(L, "base64 library for Lua 5.1 / Mar 2010");
  lua_setfield(L, -2, "version");
  return 1;
}

}  // namespace vesko
