// The guards on the bundled libraries' functions.  Several of them convert
// a count to a C int without a check, recurse without a limit, write to a
// pipe that ends the host, or can be opened again over their guards; each
// such function is replaced by a wrapper that runs a check, or a stand-in,
// and then the library's own function, in its own frame, exactly as
// before.
#ifndef VESKO_ENGINE_LIBRARY_GUARDS_WRAPPED_FUNCTIONS_H
#define VESKO_ENGINE_LIBRARY_GUARDS_WRAPPED_FUNCTIONS_H

struct lua_State;

namespace vesko::engine {

// [-0, +0] Wraps the functions of the base, table, string, io, package
// and debug libraries, LuaBitOp and LPeg (its table and its patterns'
// metatable).  Run after they are opened and before any Lua module copies
// one of their functions.
void wrapCoreLibraries(lua_State* L);

// [-0, +0] Wraps LuaSocket's core functions; run after the core is opened
// and before LuaSocket's Lua modules.
void wrapSocketCore(lua_State* L);

}  // namespace vesko::engine

#endif
