// Range checks: the counts, positions, widths and repetitions that the
// bundled libraries convert to a C int without a check, some of them then
// writing out of bounds or looping for ever.  A value out of range gets the
// usual argument error.
#include <cmath>

#include <lua.hpp>

#include "engine/library_guards/checks.h"

namespace vesko::engine {

namespace {

// Half-open ranges [low, high) for the integer part of an argument.
constexpr double kIntLow = -0x1p31;
constexpr double kIntHigh = 0x1p31;
constexpr double kIntegerLow = -0x1p63;
constexpr double kIntegerHigh = 0x1p63;

// Raises "bad argument #arg to 'name' (out of range)" when argument `arg`
// is a number, or a string that converts to one, whose integer part is
// outside [low, high).  NaN is in no range.  Any other value is left to the
// library's own check.  Stack unchanged.
void checkRange(lua_State* L, int arg, double low, double high) {
  if (!lua_isnumber(L, arg)) return;
  const double value = std::trunc(lua_tonumber(L, arg));
  if (!(value >= low && value < high)) luaL_argerror(L, arg, "out of range");
}
}  // namespace

// An argument the library reads as a C int.
void checkInt(lua_State* L, int arg) {
  checkRange(L, arg, kIntLow, kIntHigh);
}
// An argument the library reads as a Lua integer (64 bits).
void checkInteger(lua_State* L, int arg) {
  checkRange(L, arg, kIntegerLow, kIntegerHigh);
}

namespace {

// The integer part of argument `arg`, or `absent` when it is none or nil;
// false when it is something else, which the library rejects itself.
bool optionalInteger(lua_State* L, int arg, double absent, double* value) {
  if (lua_isnoneornil(L, arg)) {
    *value = absent;
    return true;
  }
  if (!lua_isnumber(L, arg)) return false;
  *value = std::trunc(lua_tonumber(L, arg));
  return true;
}

// Extra argument of the debug functions that take a thread first.
int threadOffset(lua_State* L) {
  return lua_type(L, 1) == LUA_TTHREAD ? 1 : 0;
}

}  // namespace

// --- base and table -------------------------------------------------------

// unpack(t [, i [, j]]): the library counts j - i + 1 in an int and checks
// the stack with that count plus the slots in use, so a range near 2^31
// wraps past both checks and writes past the stack.  A range that large
// fails as any range beyond the stack's limit does.
constexpr double kMostUnpacked = 0x1p30;
int checkUnpack(lua_State* L) {
  checkInt(L, 2);
  checkInt(L, 3);
  double first;
  double last;
  if (!optionalInteger(L, 2, 1, &first)) return kRunLibrary;
  if (lua_isnoneornil(L, 3)) {
    if (!lua_istable(L, 1)) return kRunLibrary;
    last = static_cast<double>(lua_objlen(L, 1));
  } else if (!optionalInteger(L, 3, 0, &last)) {
    return kRunLibrary;
  }
  if (last - first + 1 > kMostUnpacked) luaL_error(L, "too many results to unpack");
  return kRunLibrary;
}

int checkFirstInt(lua_State* L) {
  checkInt(L, 1);
  return kRunLibrary;
}

// table.insert(t, pos, v): an insert below position 1 shifts every position
// between, adding a key for each, in one loop no time limit interrupts.
constexpr double kLowestInsertPosition = 1 - 0x1p20;
int checkInsert(lua_State* L) {
  if (lua_gettop(L) == 3) checkRange(L, 2, kLowestInsertPosition, kIntHigh);
  return kRunLibrary;
}

int checkSecondInt(lua_State* L) {
  checkInt(L, 2);
  return kRunLibrary;
}

int checkConcat(lua_State* L) {
  checkInt(L, 3);
  checkInt(L, 4);
  return kRunLibrary;
}

// --- string ---------------------------------------------------------------

// string.rep(s, n): the empty string repeated is empty, without the
// library's loop of n empty appends that no time limit interrupts.
int checkRep(lua_State* L) {
  checkInt(L, 2);
  if (lua_type(L, 1) == LUA_TSTRING && lua_objlen(L, 1) == 0 && lua_isnumber(L, 2)) {
    lua_pushliteral(L, "");
    return 1;
  }
  return kRunLibrary;
}

int checkRange23(lua_State* L) {
  checkInteger(L, 2);
  checkInteger(L, 3);
  return kRunLibrary;
}

int checkEveryInt(lua_State* L) {
  for (int arg = 1, top = lua_gettop(L); arg <= top; ++arg) checkInt(L, arg);
  return kRunLibrary;
}

// --- debug ----------------------------------------------------------------

int checkGetinfo(lua_State* L) {
  checkInt(L, 1 + threadOffset(L));
  return kRunLibrary;
}

int checkLocal(lua_State* L) {
  const int offset = threadOffset(L);
  checkInt(L, 1 + offset);
  checkInt(L, 2 + offset);
  return kRunLibrary;
}

int checkSethook(lua_State* L) {
  checkInt(L, 3 + threadOffset(L));
  return kRunLibrary;
}

// debug.traceback([thread,] [message [, level]]): the library walks levels
// up from a negative one, one line for each, through 2^31 of them for a
// level that wraps.
int checkTraceback(lua_State* L) {
  checkRange(L, 2 + threadOffset(L), 0, kIntHigh);
  return kRunLibrary;
}

// --- LuaBitOp -------------------------------------------------------------

// bit.tohex(x, n): the library negates a negative width, and -2^31 stays
// negative, an index far before its buffer.
int checkTohex(lua_State* L) {
  checkRange(L, 2, kIntLow + 1, kIntHigh);
  return kRunLibrary;
}

// --- LPeg -----------------------------------------------------------------

// A number n used as a pattern becomes 2|n| - 1 tree nodes counted in an
// int.  Unlike the other counts, a numeric string is a literal pattern.
constexpr double kLargestPatternNumber = 0x1p30;
void checkPatternNumber(lua_State* L, int arg) {
  if (lua_type(L, arg) == LUA_TNUMBER) {
    checkRange(L, arg, -kLargestPatternNumber, kLargestPatternNumber + 1);
  }
}

// lpeg.setmaxstack(n): the backtrack stack's limit, counted in an int.
// [-0, +0, e]
constexpr double kMostBacktrackEntries = 0x1p24;
int checkSetmaxstack(lua_State* L) {
  checkRange(L, 1, kIntLow, kMostBacktrackEntries + 1);
  return kRunLibrary;
}

namespace {

// More than the tree nodes of the pattern that argument `arg` becomes: a
// compiled pattern has fewer nodes than its block has bytes, a string or a
// number fewer than twice its length, a grammar fewer than its rules'
// bytes and a few nodes per rule.
double patternNodesBound(lua_State* L, int arg) {
  switch (lua_type(L, arg)) {
    case LUA_TUSERDATA:
      return static_cast<double>(lua_objlen(L, arg));
    case LUA_TSTRING:
      return 2.0 * static_cast<double>(lua_objlen(L, arg)) + 2;
    case LUA_TNUMBER:
      return 2.0 * std::fabs(lua_tonumber(L, arg)) + 2;
    case LUA_TTABLE: {
      double nodes = 4;
      lua_pushnil(L);
      while (lua_next(L, arg) != 0) {
        if (lua_type(L, -1) == LUA_TUSERDATA) nodes += static_cast<double>(lua_objlen(L, -1));
        nodes += 4;
        lua_pop(L, 1);
      }
      return nodes;
    }
    default:
      return 4;
  }
}

}  // namespace

// p^n: the library sizes the repeated tree as (n + 1) * (nodes + 1), or
// |n| * (nodes + 3) for a negative n, in an int.  The bound below keeps
// both well under 2^31.
constexpr double kMostRepeatedNodes = 0x1p31;
int checkRepetition(lua_State* L) {
  checkPatternNumber(L, 1);
  checkInt(L, 2);
  checkPatternStack(L, true);
  if (!lua_isnumber(L, 2)) return kRunLibrary;
  const double count = std::fabs(std::trunc(lua_tonumber(L, 2)));
  if ((count + 1) * (patternNodesBound(L, 1) + 32) >= kMostRepeatedNodes) {
    luaL_argerror(L, 2, "out of range");
  }
  return kRunLibrary;
}

// p * q, p + q, p - q: the library sizes the joined tree as the sum of the
// two in an int; re doubles a pattern this way for each bit of a
// repetition count.
int checkTwoPatterns(lua_State* L) {
  checkPatternNumber(L, 1);
  checkPatternNumber(L, 2);
  checkPatternStack(L, true);
  if (patternNodesBound(L, 1) + patternNodesBound(L, 2) + 32 >= kMostRepeatedNodes) {
    luaL_error(L, "pattern too large");
  }
  return kRunLibrary;
}

// --- LuaSocket ------------------------------------------------------------

// socket.skip(d, ...): the library returns top - d - 1 values, reaching
// below its frame for a negative d.
int checkSkip(lua_State* L) {
  checkRange(L, 1, 0, kIntHigh);
  return kRunLibrary;
}

// socket.sleep(t): NaN becomes a negative time that the library retries
// for ever.
int checkSleep(lua_State* L) {
  if (lua_isnumber(L, 1) && std::isnan(lua_tonumber(L, 1))) luaL_argerror(L, 1, "out of range");
  return kRunLibrary;
}

}  // namespace vesko::engine
