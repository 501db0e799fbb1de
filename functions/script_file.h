// Loading a script file for Vesko_RunFile from one open descriptor.
#ifndef VESKO_FUNCTIONS_SCRIPT_FILE_H
#define VESKO_FUNCTIONS_SCRIPT_FILE_H

struct lua_State;

namespace vesko::engine {
class ChunkLease;
}

namespace vesko {

// [-0, +1 or +0] Opens `path` once, without ever blocking, and loads it as
// a chunk named "@path", as luaL_loadfile does (a first line starting with
// "#" is skipped, a precompiled chunk is accepted).  Only a regular file is
// loaded: a named pipe or a device could block the host before any time
// limit runs, or never end.  Answers false, pushing nothing, when the file
// cannot be opened or is not a regular file; otherwise answers true with
// the load status in *status and the chunk or the interpreter's message
// on top of the stack.  While the path's stat shows the very contents a
// kept chunk was compiled from (engine/chunk_cache.h), that chunk is used
// and the file is not opened at all.
bool loadScriptFile(lua_State* L, const char* path, int* status, engine::ChunkLease* lease);

}  // namespace vesko

#endif
