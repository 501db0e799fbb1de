// The `base64` library: base64 (RFC 4648) encoding and decoding of strings.
#ifndef VESKO_LIBRARY_BASE64_H
#define VESKO_LIBRARY_BASE64_H

struct lua_State;

namespace vesko {

// base64.encode(s), base64.decode(s).
int base64Encode(lua_State* L);
int base64Decode(lua_State* L);

// Opener, called with the library name: the global table `base64`, also
// package.loaded.base64, with encode, decode and version.  Returns it.
int openBase64(lua_State* L);

}  // namespace vesko

#endif
