// Bounds on the counts, positions, widths and repetitions that scripts pass
// to the bundled libraries.  The libraries convert such a number to a C int
// without a check, and some of them then write out of bounds or loop for
// ever; each function that does is replaced by a wrapper that raises the
// usual argument error for a value out of range and otherwise runs the
// library's own function, in its own frame, exactly as before.
#ifndef VESKO_LIBRARY_ARGUMENT_BOUNDS_H
#define VESKO_LIBRARY_ARGUMENT_BOUNDS_H

struct lua_State;

namespace vesko {

// Wraps the functions of the base, table, string and debug libraries,
// LuaBitOp and LPeg (its table and its patterns' metatable).  Run after they
// are opened and before any Lua module copies one of their functions.
// Leaves the stack as it was.
void boundCoreLibraryArguments(lua_State* L);

// Wraps LuaSocket's core functions; run after the core is opened and before
// LuaSocket's Lua modules.  Leaves the stack as it was.
void boundSocketArguments(lua_State* L);

}  // namespace vesko

#endif
