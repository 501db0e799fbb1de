// The libraries every script finds: the interpreter's standard libraries,
// the bundled ones (LuaFileSystem, LuaBitOp, LPeg with re, LuaSocket with
// its Lua modules), the vesko table, the string extensions, the codecs and
// the start-up scripts, each behind the engine's guards.  Start-up opens
// this set in every new interpreter, and the library's tests open it the
// same way.
#ifndef VESKO_LIBRARY_LIBRARY_SET_H
#define VESKO_LIBRARY_LIBRARY_SET_H

struct lua_State;

namespace vesko {

// [-0, +0, e] Opens the set in L, a new interpreter.  Runs in a protected
// call: an error raised while opening ends start-up.  A start-up script
// that fails leaves start-up going without what it would have defined.
void openLibrarySet(lua_State* L);

}  // namespace vesko

#endif
