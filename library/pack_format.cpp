#include "library/pack_format.h"

#include <cstring>
#include <limits>

#include <lua.hpp>

namespace vesko {

namespace {

// Far beyond any count a call could use up: each repetition takes an
// argument (pack) or at least one byte of data (unpack).
constexpr std::size_t kMaxCount = std::numeric_limits<std::size_t>::max() / 16;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool readFormatCode(lua_State* L, int formatArg, const char** format, FormatCode* out) {
  const char* p = *format;
  const char code = *p;
  if (code == '\0') return false;
  if (isDigit(code) || std::strchr("zpPaAfdncbhHiIlL<>= ,", code) == nullptr) {
    luaL_argerror(L, formatArg, lua_pushfstring(L, "bad code `%c'", code));
  }
  ++p;
  std::size_t count = 1;
  if (isDigit(*p)) {
    count = 0;
    for (; isDigit(*p); ++p) {
      count = count * 10 + static_cast<std::size_t>(*p - '0');
      if (count > kMaxCount) count = kMaxCount;
    }
  }
  *format = p;
  out->code = code;
  out->count = count;
  return true;
}

std::size_t integerSize(char code) {
  switch (code) {
    case 'c':
    case 'b':
      return 1;
    case 'h':
    case 'H':
      return 2;
    case 'i':
    case 'I':
    case 'l':
    case 'L':
      return 4;
    default:
      return 0;
  }
}

bool isSignedInteger(char code) {
  return code == 'c' || code == 'h' || code == 'i' || code == 'l';
}

std::size_t lengthPrefixSize(char code) {
  switch (code) {
    case 'p':
      return 1;
    case 'P':
      return 2;
    case 'a':
      return 8;
    default:
      return 0;
  }
}

void storeBytes(unsigned char* out, std::uint64_t value, std::size_t size, ByteOrder order) {
  for (std::size_t k = 0; k < size; ++k, value >>= 8) {
    out[order == ByteOrder::kLittle ? k : size - 1 - k] = static_cast<unsigned char>(value);
  }
}

std::uint64_t loadBytes(const unsigned char* in, std::size_t size, ByteOrder order) {
  std::uint64_t value = 0;
  for (std::size_t k = 0; k < size; ++k) {
    value = value << 8 | in[order == ByteOrder::kLittle ? size - 1 - k : k];
  }
  return value;
}

}  // namespace vesko
