// The format language that string.pack and string.unpack share: codes with
// optional decimal counts, and the byte order they switch.
#ifndef VESKO_LIBRARY_PACK_FORMAT_H
#define VESKO_LIBRARY_PACK_FORMAT_H

#include <cstddef>
#include <cstdint>

struct lua_State;

namespace vesko {

struct FormatCode {
  char code;
  std::size_t count;  // 1 when the format gives none.
};

// Reads the code at `*format` and the count after it, and moves `*format`
// past both; false at the end of the format (its first NUL).  A code that
// the language does not know raises the argument error "bad code `?'" on
// argument `formatArg`.
bool readFormatCode(lua_State* L, int formatArg, const char** format, FormatCode* out);

// Bytes of an integer code (c b h H i I l L), 0 for any other code.
std::size_t integerSize(char code);
bool isSignedInteger(char code);

// Bytes of the length before a string of code p, P or a; 0 for others.
std::size_t lengthPrefixSize(char code);

// Byte order of numbers and length prefixes.  Every call starts little-endian,
// the native order.
enum class ByteOrder { kLittle, kBig };

// Writes the low `size` bytes of `value` in `order`.
void storeBytes(unsigned char* out, std::uint64_t value, std::size_t size, ByteOrder order);
// Reads `size` bytes in `order` as an unsigned value.
std::uint64_t loadBytes(const unsigned char* in, std::size_t size, ByteOrder order);

}  // namespace vesko

#endif
