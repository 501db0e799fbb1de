#include "library/utf8_validity.h"

#include <lua.hpp>

namespace vesko {

namespace {

// Length that the lead byte `b` announces, 0 for a byte no sequence starts
// with (a continuation byte, C0, C1, F5..FF).
int leadLength(unsigned char b) {
  if (b < 0x80) return 1;
  if (b < 0xC2) return 0;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF5) return 4;
  return 0;
}

bool isContinuation(unsigned char b) {
  return b >= 0x80 && b <= 0xBF;
}

}  // namespace

int utf8CharLength(const unsigned char* p) {
  const int length = leadLength(p[0]);
  if (length <= 1) return length;
  // The second byte carries the rows' exceptions: overlongs (E0, F0),
  // surrogates (ED) and values past U+10FFFF (F4).
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  switch (p[0]) {
    case 0xE0:
      low = 0xA0;
      break;
    case 0xED:
      high = 0x9F;
      break;
    case 0xF0:
      low = 0x90;
      break;
    case 0xF4:
      high = 0x8F;
      break;
    default:
      break;
  }
  if (p[1] < low || p[1] > high) return 0;
  for (int k = 2; k < length; ++k) {
    if (!isContinuation(p[k])) return 0;
  }
  return length;
}

int utf8PrevCharLength(const unsigned char* s, std::size_t end) {
  for (int k = 1; k <= 4 && static_cast<std::size_t>(k) <= end; ++k) {
    const unsigned char* lead = s + end - k;
    // utf8CharLength reads past s[end - 1] only when the lead announces more
    // than k bytes, so it is asked only when the lead announces exactly k.
    if (leadLength(*lead) == k) return utf8CharLength(lead) == k ? k : 0;
    if (!isContinuation(*lead)) return 0;
  }
  return 0;
}

std::size_t utf8ValidPrefixLength(const char* s) {
  if (s == nullptr) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  std::size_t n = 0;
  while (p[n] != 0) {
    const int k = utf8CharLength(p + n);
    if (k == 0) break;
    n += static_cast<std::size_t>(k);
  }
  return n;
}

// string.isvalidutf8(s): [-0, +1] true when every byte before the first NUL
// belongs to a well-formed sequence.
int isValidUtf8(lua_State* L) {
  const char* s = luaL_checkstring(L, 1);
  lua_pushboolean(L, s[utf8ValidPrefixLength(s)] == '\0');
  return 1;
}

// string.is7bitascii(s): [-0, +1] true when no byte before the first NUL is
// 0x80 or above.
int is7BitAscii(lua_State* L) {
  const auto* p = reinterpret_cast<const unsigned char*>(luaL_checkstring(L, 1));
  while (*p != 0 && *p < 0x80) ++p;
  lua_pushboolean(L, *p == 0);
  return 1;
}

}  // namespace vesko
