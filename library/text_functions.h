// vesko.damlevlim, vesko.fnv32a and vesko.md5: edit distance and hashes over
// the bytes of a string before its first NUL.
#ifndef VESKO_LIBRARY_TEXT_FUNCTIONS_H
#define VESKO_LIBRARY_TEXT_FUNCTIONS_H

#include <cstdint>
#include <string_view>

struct lua_State;

namespace vesko {

// 32-bit FNV-1a hash of all bytes of `bytes`.
std::uint32_t fnv1a32(std::string_view bytes);

// vesko.damlevlim(a, b, limit): the edit distance, at most limit.
int damlevlim(lua_State* L);
// vesko.fnv32a(s): the hash as a number from 0 to 2^32 - 1.
int fnv32a(lua_State* L);
// vesko.md5(s): the digest as 32 lower-case hexadecimal digits.
int md5(lua_State* L);

}  // namespace vesko

#endif
