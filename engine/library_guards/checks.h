// What the wrapped functions of the bundled libraries run before, or
// instead of, the library's own function (wrapped_functions.cpp lists
// which runs where).  Private to this folder.
//
// A check runs in the wrapped function's own frame before the library's
// function, so its argument errors name the function as the script called
// it and carry the script's position.  It answers kRunLibrary, or the
// number of results it pushed instead of running the library.  A runner
// calls the library's function itself, in the same frame.
#ifndef VESKO_ENGINE_LIBRARY_GUARDS_CHECKS_H
#define VESKO_ENGINE_LIBRARY_GUARDS_CHECKS_H

#include <lua.hpp>

namespace vesko::engine {

inline constexpr int kRunLibrary = -1;
using Check = int (*)(lua_State* L);
using Run = int (*)(lua_State* L, lua_CFunction original);

// Range checks (range_checks.cpp).  Each raises "bad argument #n to 'name'
// (out of range)" for a number out of what the library converts safely.
void checkInt(lua_State* L, int arg);      // read as a C int
void checkInteger(lua_State* L, int arg);  // read as a Lua integer
void checkPatternNumber(lua_State* L, int arg);
int checkUnpack(lua_State* L);
int checkFirstInt(lua_State* L);
int checkSecondInt(lua_State* L);
int checkInsert(lua_State* L);
int checkConcat(lua_State* L);
int checkRep(lua_State* L);
int checkRange23(lua_State* L);
int checkEveryInt(lua_State* L);
int checkGetinfo(lua_State* L);
int checkLocal(lua_State* L);
int checkSethook(lua_State* L);
int checkTraceback(lua_State* L);
int checkTohex(lua_State* L);
int checkSetmaxstack(lua_State* L);
int checkRepetition(lua_State* L);
int checkTwoPatterns(lua_State* L);
int checkSkip(lua_State* L);
int checkSleep(lua_State* L);

// C stack checks (c_stack_checks.cpp): "C stack overflow" before a
// recursion the C stack left cannot hold.
int checkMatchInit(lua_State* L);
int checkFindInit(lua_State* L);
int checkGsub(lua_State* L);
int runGmatch(lua_State* L, lua_CFunction original);
int checkPattern(lua_State* L);
int checkMatch(lua_State* L);
// [-0, +0, e] Checks the C stack for LPeg's walks of every pattern among
// the arguments; `compiling` when the function compiles them.
void checkPatternStack(lua_State* L, bool compiling);
// The metatable LPeg gives every pattern, by its address; set when the
// pattern operators are wrapped.
extern const void* patternMetatable;

// lua-cjson's sizes (json_limits.cpp).
int checkJsonEncode(lua_State* L);
int checkJsonDecode(lua_State* L);

// socket.select with stand-ins for its objects (socket_stand_ins.cpp).
int runSelect(lua_State* L, lua_CFunction original);

// package.loadlib and the searchers (reopened_openers.cpp).
int runFindingOpener(lua_State* L, lua_CFunction original);

// The wrapping itself (wrapped_functions.cpp), for libraries opened again.
// [-0, +0] Wraps the functions listed for `tableName` in the table on top.
void wrapTable(lua_State* L, const char* tableName);
// [-0, +0] Wraps the operators of LPeg, whose table is on top.
void wrapPatternOperators(lua_State* L);

}  // namespace vesko::engine

#endif
