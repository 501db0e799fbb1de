// An interpreter with the standard libraries and this library's natives,
// opened in the order and the way start-up opens them.  Shared by the tests
// and the fuzz targets.
#ifndef VESKO_TESTS_LIBRARY_LIBRARY_STATE_H
#define VESKO_TESTS_LIBRARY_LIBRARY_STATE_H

struct lua_State;

namespace vesko {

// A new state; runs the UTF-8 substring script read from `substringScript`,
// a file path.  Throws std::runtime_error when the script cannot be read or
// run.  The vesko table holds only damlevlim, fnv32a and md5.
lua_State* newLibraryState(const char* substringScript);

}  // namespace vesko

#endif
