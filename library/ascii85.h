// The `ascii85` library: Ascii85 encoding, "<~" ... "~>", of strings.
#ifndef VESKO_LIBRARY_ASCII85_H
#define VESKO_LIBRARY_ASCII85_H

struct lua_State;

namespace vesko {

// ascii85.encode(s), ascii85.decode(s).
int ascii85Encode(lua_State* L);
int ascii85Decode(lua_State* L);

// Opener, called with the library name: the global table `ascii85`, also
// package.loaded.ascii85, with encode, decode and version.  Returns it.
int openAscii85(lua_State* L);

}  // namespace vesko

#endif
