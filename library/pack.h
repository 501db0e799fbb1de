// string.pack and string.unpack: binary records laid out by a format.
#ifndef VESKO_LIBRARY_PACK_H
#define VESKO_LIBRARY_PACK_H

struct lua_State;

namespace vesko {

// string.pack(format, ...), string.unpack(data, format, init).
int pack(lua_State* L);
int unpack(lua_State* L);

// Opener, called with the library name: adds pack and unpack to the
// `string` table.  Returns nothing.
int openPack(lua_State* L);

}  // namespace vesko

#endif
