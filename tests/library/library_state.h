// An interpreter with the library set that start-up opens (library_set.h),
// opened the same way, without the rest of the engine: no anchors, no time
// limit, no host call.  Shared by the tests and the fuzz targets.
#ifndef VESKO_TESTS_LIBRARY_LIBRARY_STATE_H
#define VESKO_TESTS_LIBRARY_LIBRARY_STATE_H

struct lua_State;

namespace vesko {

// A new state with the library set open.  Throws std::runtime_error when
// opening fails.
lua_State* newLibraryState();

}  // namespace vesko

#endif
