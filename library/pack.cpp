#include "library/pack.h"

#include <cmath>
#include <cstring>

#include <lua.hpp>

#include "library/pack_format.h"

namespace vesko {

namespace {

// The two's-complement bits of x truncated toward zero, modulo 2^64, so that
// an integer code keeps the low-order bytes of any finite value; NaN and the
// infinities give 0.
std::uint64_t integerBits(lua_Number x) {
  if (!std::isfinite(x)) return 0;
  double m = std::fmod(std::trunc(x), 0x1p64);  // exact, and |m| < 2^64
  if (m >= 0x1p63) {
    m -= 0x1p64;
  } else if (m < -0x1p63) {
    m += 0x1p64;
  }
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(m));
}

void addBytes(luaL_Buffer* b, std::uint64_t value, std::size_t size, ByteOrder order) {
  unsigned char bytes[8];
  storeBytes(bytes, value, size, order);
  luaL_addlstring(b, reinterpret_cast<const char*>(bytes), size);
}

// Packs one value of `code` from argument `arg`.
void packItem(lua_State* L, luaL_Buffer* b, char code, int arg, ByteOrder order) {
  if (const std::size_t size = integerSize(code)) {
    addBytes(b, integerBits(luaL_checknumber(L, arg)), size, order);
    return;
  }
  switch (code) {
    case 'f': {
      std::uint32_t bits;
      const auto single = static_cast<float>(luaL_checknumber(L, arg));
      std::memcpy(&bits, &single, sizeof bits);
      addBytes(b, bits, sizeof bits, order);
      return;
    }
    case 'd':
    case 'n': {
      std::uint64_t bits;
      const double value = luaL_checknumber(L, arg);
      std::memcpy(&bits, &value, sizeof bits);
      addBytes(b, bits, sizeof bits, order);
      return;
    }
    default:
      break;
  }
  std::size_t length;
  const char* s = luaL_checklstring(L, arg, &length);
  // p and P keep only the low bits of a longer length; the string goes in
  // whole all the same.
  if (const std::size_t size = lengthPrefixSize(code)) addBytes(b, length, size, order);
  luaL_addlstring(b, s, length);
  if (code == 'z') luaL_addchar(b, '\0');
}

}  // namespace

// string.pack(format, ...): [-0, +1] the values after the format laid out
// as it says.
int pack(lua_State* L) {
  const char* format = luaL_checkstring(L, 1);
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  ByteOrder order = ByteOrder::kLittle;
  int arg = 2;
  FormatCode item;
  while (readFormatCode(L, 1, &format, &item)) {
    switch (item.code) {
      case '<':
      case '=':
        order = ByteOrder::kLittle;
        break;
      case '>':
        order = ByteOrder::kBig;
        break;
      case ' ':
      case ',':
        break;
      default:
        // Each repetition takes an argument, so a huge count ends at the
        // first missing one with an argument error.
        for (std::size_t k = 0; k < item.count; ++k) packItem(L, &b, item.code, arg++, order);
    }
  }
  luaL_pushresult(&b);
  return 1;
}

namespace {

// The data being unpacked.  `position` counts bytes from 0 and may stand one
// beyond the end, after a z string that ends the data; `fits` keeps every
// read inside the data from any position.
struct Reader {
  const unsigned char* data;
  std::size_t length;
  std::size_t position;
  ByteOrder order;

  bool fits(std::uint64_t size) const { return position <= length && size <= length - position; }
  const unsigned char* take(std::size_t size) {
    const unsigned char* at = data + position;
    position += size;
    return at;
  }
};

void pushBytes(lua_State* L, const unsigned char* bytes, std::size_t size) {
  lua_pushlstring(L, reinterpret_cast<const char*>(bytes), size);
}

// Unpacks one value of `code` and pushes it; false, with nothing pushed,
// when the data does not hold the whole item.
bool unpackItem(lua_State* L, Reader* in, char code) {
  luaL_checkstack(L, 1, "too many values to unpack");
  if (const std::size_t size = integerSize(code)) {
    if (!in->fits(size)) return false;
    const std::uint64_t bits = loadBytes(in->take(size), size, in->order);
    if (isSignedInteger(code)) {
      const unsigned unused = 64 - 8 * static_cast<unsigned>(size);
      lua_pushnumber(L,
                     static_cast<lua_Number>(static_cast<std::int64_t>(bits << unused) >> unused));
    } else {
      lua_pushnumber(L, static_cast<lua_Number>(bits));
    }
    return true;
  }
  if (const std::size_t size = lengthPrefixSize(code)) {
    if (!in->fits(size)) return false;
    const std::uint64_t length = loadBytes(in->data + in->position, size, in->order);
    // The announced string must fit behind its length; the position moves
    // past both only then.
    if (in->length - in->position - size < length) return false;
    in->take(size);
    pushBytes(L, in->take(static_cast<std::size_t>(length)), static_cast<std::size_t>(length));
    return true;
  }
  switch (code) {
    case 'z': {
      if (in->position >= in->length) return false;
      const unsigned char* start = in->data + in->position;
      const std::size_t rest = in->length - in->position;
      const void* nul = std::memchr(start, 0, rest);
      const std::size_t size =
          nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - start) : rest;
      pushBytes(L, start, size);
      in->position += size + 1;
      return true;
    }
    case 'f': {
      if (!in->fits(4)) return false;
      const auto bits = static_cast<std::uint32_t>(loadBytes(in->take(4), 4, in->order));
      float value;
      std::memcpy(&value, &bits, sizeof value);
      lua_pushnumber(L, value);
      return true;
    }
    default: {  // d, n
      if (!in->fits(8)) return false;
      const std::uint64_t bits = loadBytes(in->take(8), 8, in->order);
      double value;
      std::memcpy(&value, &bits, sizeof value);
      lua_pushnumber(L, value);
      return true;
    }
  }
}

// Reads the items of the format until it ends or the data runs short.
void unpackItems(lua_State* L, Reader* in, const char* format) {
  FormatCode item;
  while (readFormatCode(L, 2, &format, &item)) {
    switch (item.code) {
      case '<':
      case '=':
        in->order = ByteOrder::kLittle;
        break;
      case '>':
        in->order = ByteOrder::kBig;
        break;
      case ' ':
      case ',':
        break;
      case 'A':
        if (!in->fits(item.count)) return;
        luaL_checkstack(L, 1, "too many values to unpack");
        pushBytes(L, in->take(item.count), item.count);
        break;
      default:
        for (std::size_t k = 0; k < item.count; ++k) {
          if (!unpackItem(L, in, item.code)) return;
        }
    }
  }
}

}  // namespace

// string.unpack(data, format, init): [-0, +(1 + values)] the position after
// the last item read, then the values read from byte init (default 1) on.
// Unpacking stops without error where the data runs short; a start beyond
// the data reads nothing.
int unpack(lua_State* L) {
  std::size_t length;
  const auto* data = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &length));
  const char* format = luaL_checkstring(L, 2);
  const lua_Number start = std::trunc(luaL_optnumber(L, 3, 1) - 1);
  luaL_argcheck(L, start >= 0, 3, "start position below 1");
  const bool beyond = start > static_cast<lua_Number>(length);
  Reader in{data, length, beyond ? length + 1 : static_cast<std::size_t>(start),
            ByteOrder::kLittle};
  const int base = lua_gettop(L);
  unpackItems(L, &in, format);
  const int values = lua_gettop(L) - base;
  luaL_checkstack(L, 1, "too many values to unpack");
  lua_pushnumber(L, beyond ? start + 1 : static_cast<lua_Number>(in.position) + 1);
  lua_insert(L, base + 1);
  return values + 1;
}

namespace {

const luaL_Reg kPackFunctions[] = {
    {"pack", pack},
    {"unpack", unpack},
    {nullptr, nullptr},
};

}  // namespace

// pack opener: [-0, +0] adds pack and unpack to the `string` table.
int openPack(lua_State* L) {
  luaL_register(L, LUA_STRLIBNAME, kPackFunctions);
  return 0;
}

}  // namespace vesko
