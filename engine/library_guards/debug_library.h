// The debug library reaches into what the other libraries keep for
// themselves: the environments of C functions and of their userdata (where
// io keeps its files and its close functions, and LPeg a pattern's
// values), the upvalues of C functions (the thread behind coroutine.wrap),
// the temporaries of a running C function (table.sort's table) and the
// metatables by which a library knows its own userdata.  Changing
// any of them makes a library read memory as something it is not.
//
// debug stays usable on what scripts make (Lua functions, threads, tables,
// the userdata newproxy makes); on the libraries' objects it refuses, with
// the usual argument error.
#ifndef VESKO_ENGINE_LIBRARY_GUARDS_DEBUG_LIBRARY_H
#define VESKO_ENGINE_LIBRARY_GUARDS_DEBUG_LIBRARY_H

struct lua_State;

namespace vesko::engine {

// Wraps debug.getfenv, debug.setfenv, debug.setmetatable,
// debug.getupvalue, debug.setupvalue and debug.setlocal, and notes the metatables every library has
// registered by then.  Run at the end of start-up, once every library is open.  Stack unchanged.
void guardDebugLibrary(lua_State* L);

}  // namespace vesko::engine

#endif
