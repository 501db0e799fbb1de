// The "luautf8" library: character-aware functions added to the global
// `string` table, so that they also work as string methods.
#ifndef VESKO_LIBRARY_UTF8_STRINGS_H
#define VESKO_LIBRARY_UTF8_STRINGS_H

struct lua_State;

namespace vesko {

// string.nextutf8(s, i), string.utf8len(s), string.seekutf8(s, i, n),
// string.utf8code(s), string.utf8char(code).
int nextUtf8(lua_State* L);
int utf8Len(lua_State* L);
int seekUtf8(lua_State* L);
int utf8Code(lua_State* L);
int utf8Char(lua_State* L);

// Opener, called with the library name: adds the five functions above to
// the `string` table.  Returns that table.
int openUtf8Strings(lua_State* L);

}  // namespace vesko

#endif
