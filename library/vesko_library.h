// The `vesko` table: the natives scripts use to reach the host and the
// engine, and the library's small utilities.
#ifndef VESKO_LIBRARY_VESKO_LIBRARY_H
#define VESKO_LIBRARY_VESKO_LIBRARY_H

struct lua_State;

namespace vesko {

inline constexpr const char* kLibraryVersion = "vesko library for Lua 5.1 / March 2017";
inline constexpr const char* kPlatform = "Linux";

// Opener: registers the global and module "vesko"; answers the table.
int openVeskoLibrary(lua_State* L);

}  // namespace vesko

#endif
