// The interpreter's allocator: the standard one (realloc and free), with an
// optional ceiling on the bytes the interpreter may hold at once.  The
// ceiling comes from the environment variable VESKO_LUA_MEMORY_LIMIT (a
// byte count) when the engine starts; without it there is no ceiling.  A
// script that needs more gets the interpreter's "not enough memory" error
// instead of exhausting the host's memory.
#ifndef VESKO_ENGINE_ALLOCATOR_H
#define VESKO_ENGINE_ALLOCATOR_H

#include <cstddef>

struct lua_State;

namespace vesko::engine {

// A new interpreter using this allocator, or null.
lua_State* newInterpreter();

}  // namespace vesko::engine

#endif
