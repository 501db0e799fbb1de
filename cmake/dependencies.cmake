# Every dependency comes from a Debian package and is found with pkg-config.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# The interpreter built as C++: a Lua error unwinds C++ frames and runs their
# destructors, so a native function may hold owning wrappers while it raises.
pkg_check_modules(LUA REQUIRED IMPORTED_TARGET lua5.1-c++)
pkg_get_variable(LUA_MODULE_DIR lua5.1 INSTALL_LMOD)

# The module libraries do not link an interpreter of their own; their .pc
# files name the C one, which must never be linked next to the C++ one.
function(vesko_lua_module target pcname)
  pkg_check_modules(${target}_PC REQUIRED ${pcname})
  set(libs ${${target}_PC_LIBRARIES})
  list(FILTER libs EXCLUDE REGEX "^lua5\\.1$")
  find_library(${target}_LIBRARY NAMES ${libs} REQUIRED HINTS ${${target}_PC_LIBRARY_DIRS})
  add_library(${target} INTERFACE IMPORTED)
  target_link_libraries(${target} INTERFACE ${${target}_LIBRARY} PkgConfig::LUA)
  target_include_directories(${target} INTERFACE ${${target}_PC_INCLUDE_DIRS})
endfunction()

vesko_lua_module(LuaSocket lua5.1-socket)
vesko_lua_module(LuaMime lua5.1-mime)
vesko_lua_module(LuaLPeg lua5.1-lpeg)
vesko_lua_module(LuaFileSystem lua5.1-filesystem)
vesko_lua_module(LuaBitOp lua5.1-bitop)

pkg_check_modules(SQLITE REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(GTEST REQUIRED IMPORTED_TARGET gtest)
pkg_check_modules(GTEST_MAIN REQUIRED IMPORTED_TARGET gtest_main)
if(VESKO_BENCH)
  pkg_check_modules(BENCHMARK REQUIRED IMPORTED_TARGET benchmark)
endif()
