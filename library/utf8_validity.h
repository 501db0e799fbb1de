// Well-formed UTF-8 sequences: the one table every UTF-8 routine of the
// plug-in uses (the host-result cut and the string extensions alike).
#ifndef VESKO_LIBRARY_UTF8_VALIDITY_H
#define VESKO_LIBRARY_UTF8_VALIDITY_H

#include <cstddef>

struct lua_State;

namespace vesko {

// Length 1 to 4 of the well-formed sequence that starts at `p`, or 0 when
// none starts there.  A byte below 0x80, NUL included, has length 1.  Each
// further byte is read only if the ones before it matched, so a sequence cut
// short by a NUL gives 0 and no byte past that NUL is read.
int utf8CharLength(const unsigned char* p);

// Length 1 to 4 of the well-formed sequence that ends just before s[end],
// made of bytes s[end-4 .. end-1] at most, or 0 when none ends there.  Reads
// no byte before s[0] and none from s[end] on.
int utf8PrevCharLength(const unsigned char* s, std::size_t end);

// Bytes of the well-formed sequences at the start of the NUL-ended string
// `s`, up to its first NUL or first ill-formed position.  nullptr gives 0.
std::size_t utf8ValidPrefixLength(const char* s);

// string.isvalidutf8(s) and string.is7bitascii(s): booleans.
int isValidUtf8(lua_State* L);
int is7BitAscii(lua_State* L);

}  // namespace vesko

#endif
