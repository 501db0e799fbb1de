#include "library/argument_bounds.h"

#include <dlfcn.h>
#include <sys/select.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include <lua.hpp>

#include "engine/allocator.h"
#include "engine/broken_pipe.h"
#include "engine/c_stack.h"
#include "library/socket_objects.h"

extern "C" {
int luaopen_bit(lua_State* L);
int luaopen_lpeg(lua_State* L);
int luaopen_socket_core(lua_State* L);
}

namespace vesko {

namespace {

// A check runs in the wrapped function's own frame before the library's
// function, so its argument errors name the function as the script called
// it and carry the script's position.  It answers kRunLibrary, or the
// number of results it pushed instead of running the library.
constexpr int kRunLibrary = -1;
using Check = int (*)(lua_State* L);

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
// An argument the library reads as a C int.
void checkInt(lua_State* L, int arg) {
  checkRange(L, arg, kIntLow, kIntHigh);
}
// An argument the library reads as a Lua integer (64 bits).
void checkInteger(lua_State* L, int arg) {
  checkRange(L, arg, kIntegerLow, kIntegerHigh);
}

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

// The matcher of string.find, match, gmatch and gsub nests one C frame
// (about 100 bytes) for each item with a quantifier and each capture
// bracket, without a limit of its own.  Counted as the matcher reads the
// pattern, up to its first zero byte; a malformed pattern is left to the
// library's error.
constexpr std::size_t kMatcherFrameBytes = 128;
// The work of the library function itself: its buffer and the frames
// above the matcher's.
constexpr std::size_t kMatcherBaseBytes = 16 * 1024;

std::size_t patternItems(const char* p) {
  std::size_t items = 0;
  if (*p == '^') ++p;
  while (*p != '\0') {
    if (*p == '(' || *p == ')') {
      ++items;
      ++p;
      continue;
    }
    if (p[0] == '%' && p[1] == 'b') {
      for (int i = 0; i < 4 && *p != '\0'; ++i) ++p;
      continue;
    }
    if (p[0] == '%' && p[1] == 'f') p += 2;
    // One character class: a single byte, an escape or a set.
    if (*p == '%') {
      ++p;
      if (*p != '\0') ++p;
    } else if (*p == '[') {
      ++p;
      if (*p == '^') ++p;
      do {
        if (*p == '\0') return items;
        if (*p++ == '%' && *p != '\0') ++p;
      } while (*p != ']');
      ++p;
    } else if (*p != '\0') {
      ++p;
    }
    if (*p == '*' || *p == '+' || *p == '-' || *p == '?') {
      ++items;
      ++p;
    }
  }
  return items;
}

// C stack the matcher may take for the pattern at argument `arg`; a
// pattern that is no string yet is left to the library's check.  [-0, +0]
std::size_t matcherBytes(lua_State* L, int arg) {
  const char* pattern = lua_type(L, arg) == LUA_TSTRING || lua_type(L, arg) == LUA_TNUMBER
                            ? lua_tostring(L, arg)
                            : nullptr;
  const std::size_t items = pattern != nullptr ? patternItems(pattern) : 0;
  return kMatcherBaseBytes + items * kMatcherFrameBytes;
}

int checkMatchInit(lua_State* L) {
  checkInteger(L, 3);
  engine::checkCStack(L, matcherBytes(L, 2));
  return kRunLibrary;
}

// string.find(s, pattern, init, plain): a plain search does not match.
int checkFindInit(lua_State* L) {
  if (lua_toboolean(L, 4)) {
    checkInteger(L, 3);
    return kRunLibrary;
  }
  return checkMatchInit(L);
}

int checkGsub(lua_State* L) {
  checkInt(L, 4);
  engine::checkCStack(L, matcherBytes(L, 2));
  return kRunLibrary;
}

// The library's iterator behind string.gmatch: the same C function for
// every loop, its state in its upvalues (the string, the pattern, the
// position).
lua_CFunction gmatchIterator = nullptr;

// One step of a loop of string.gmatch: upvalues 1 to 3 those of the
// library's iterator, which runs in this frame on them, and 4 the C stack
// its pattern takes.  [-0, +n]
int gmatchStep(lua_State* L) {
  engine::checkCStack(L, static_cast<std::size_t>(lua_tonumber(L, lua_upvalueindex(4))));
  return gmatchIterator(L);
}

// string.gmatch(s, pattern): the iterator checks the stack before each
// step, wherever the loop runs.  [-0, +1]
int runGmatch(lua_State* L, lua_CFunction original) {
  const auto bytes = static_cast<lua_Number>(matcherBytes(L, 2));
  const int results = original(L);
  const lua_CFunction iterator = results == 1 ? lua_tocfunction(L, -1) : nullptr;
  if (iterator == nullptr || (gmatchIterator != nullptr && iterator != gmatchIterator)) {
    return results;
  }
  gmatchIterator = iterator;
  const int closure = lua_gettop(L);
  for (int i = 1; i <= 3; ++i) {
    if (lua_getupvalue(L, closure, i) == nullptr) {
      lua_settop(L, closure);
      return 1;
    }
  }
  lua_pushnumber(L, bytes);
  lua_pushcclosure(L, gmatchStep, 4);
  return 1;
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

// LPeg analyses and compiles a pattern's tree by recursion, one C frame
// (about 200 bytes) per level, and builds trees of any depth without it
// (p^-n nests n levels).  Before a function that takes patterns runs, the
// C stack left must hold the deepest of them.  The tree is read as LPeg
// 1.0 lays it out: nodes of 8 bytes from offset 12 of the userdata, a
// node's first child right after it and its second `ps` nodes after it.
constexpr std::size_t kPatternFrameBytes = 256;
constexpr std::size_t kPatternBaseBytes = 32 * 1024;

struct PatternNode {
  unsigned char tag;
  unsigned char cap;
  unsigned short key;
  int ps;
};
constexpr std::size_t kPatternTreeOffset = 12;
constexpr std::size_t kPatternHeader = 24;  // the code pointer, its size and the first node
enum : unsigned char {
  kTrue = 3,
  kRep = 5,
  kSeq = 6,
  kChoice = 7,
  kNot = 8,
  kAnd = 9,
  kCall = 10,
  kOpenCall = 11,
  kRule = 12,
  kRunTime = 16
};

// Children of each tag: the library follows no other links by recursion
// (a call's rule is reached through the grammar).
int childCount(unsigned char tag) {
  switch (tag) {
    case kSeq:
    case kChoice:
    case kRule:
      return 2;
    case kRep:
    case kNot:
    case kAnd:
      return 1;
    default:
      return tag > kRule && tag <= kRunTime ? 1 : 0;
  }
}

// The metatable LPeg gives every pattern, by its address; set when the
// operators are wrapped.
const void* patternMetatable = nullptr;

// Whether the value at `arg` is an LPeg pattern.  [-0, +0]
bool isPattern(lua_State* L, int arg) {
  if (lua_type(L, arg) != LUA_TUSERDATA || !lua_getmetatable(L, arg)) return false;
  const bool same = lua_topointer(L, -1) == patternMetatable;
  lua_pop(L, 1);
  return same && lua_objlen(L, arg) >= kPatternHeader;
}

// The deepest recursion the library's tree walks may take on the pattern
// at `arg`: every link counts, except the second child of a sequence
// whose first child cannot match the empty string (walked in a loop).
// Children lie after their parent, so one pass from the last node up
// settles each node from its children.  [-0, +0, m]
std::size_t patternDepth(lua_State* L, int arg) {
  const auto* bytes = static_cast<const char*>(lua_touserdata(L, arg));
  const std::size_t count = (lua_objlen(L, arg) - kPatternHeader) / sizeof(PatternNode) + 1;
  const auto* nodes = reinterpret_cast<const PatternNode*>(bytes + kPatternTreeOffset);
  // Per node: its depth, shifted left once, with the low bit set when it
  // may match the empty string.
  // Small trees, the usual ones, need no allocation.
  constexpr std::size_t kSmallTree = 256;
  uint32_t small[kSmallTree];
  const bool isSmall = count <= kSmallTree;
  auto* depth =
      isSmall ? small : static_cast<uint32_t*>(lua_newuserdata(L, count * sizeof(uint32_t)));
  for (std::size_t i = count; i-- > 0;) {
    const PatternNode& node = nodes[i];
    const int children = childCount(node.tag);
    const uint32_t first = children >= 1 && i + 1 < count ? depth[i + 1] : 0;
    uint32_t second = 0;
    if (children == 2 && node.ps > 0 && static_cast<std::size_t>(node.ps) < count - i) {
      second = depth[i + static_cast<std::size_t>(node.ps)];
    }
    uint32_t level = first >> 1;
    uint32_t empty = 0;
    switch (node.tag) {
      case kSeq:
        level = std::max(level + 1, (second >> 1) + (first & 1));
        empty = first & second & 1;
        break;
      case kChoice:
      case kRule:
        level = std::max(level, second >> 1) + 1;
        empty = (first | second) & 1;
        break;
      case kTrue:
      case kRep:
      case kNot:
      case kCall:
      case kOpenCall:
        level += children > 0 ? 1 : 0;
        empty = 1;
        break;
      default:
        level += children > 0 ? 1 : 0;
        empty = children > 0 ? first & 1 : 0;
    }
    depth[i] = std::min<uint32_t>(level, UINT32_MAX >> 2) << 1 | empty;
  }
  const std::size_t deepest = depth[0] >> 1;
  if (!isSmall) lua_pop(L, 1);
  return deepest;
}

// Raises "C stack overflow" unless the C stack left holds the library's
// walks of every pattern among the arguments (and the rules of a grammar
// table).  A pattern already compiled is only run, which recurses no
// further than the library's own limits allow.  [-0, +0, e]
void checkPatternStack(lua_State* L, bool compiling) {
  std::size_t deepest = 0;
  // lpeg.match(p, subject, init, ...): only p is compiled.
  const int top = compiling ? lua_gettop(L) : std::min(lua_gettop(L), 1);
  for (int arg = 1; arg <= top; ++arg) {
    if (isPattern(L, arg)) {
      const bool compiled = *static_cast<void* const*>(lua_touserdata(L, arg)) != nullptr;
      if (compiling || !compiled) deepest = std::max(deepest, patternDepth(L, arg));
    } else if (lua_type(L, arg) == LUA_TTABLE) {
      std::size_t rules = 0;
      lua_pushnil(L);
      while (lua_next(L, arg) != 0) {
        if (isPattern(L, lua_gettop(L)))
          deepest = std::max(deepest, patternDepth(L, lua_gettop(L)));
        lua_pop(L, 1);
        ++rules;
      }
      deepest += rules + 2;
    }
  }
  engine::checkCStack(L, kPatternBaseBytes + deepest * kPatternFrameBytes);
}

int checkPattern(lua_State* L) {
  checkPatternNumber(L, 1);
  checkPatternStack(L, true);
  return kRunLibrary;
}

int checkMatch(lua_State* L) {
  checkPatternNumber(L, 1);
  checkInteger(L, 3);
  checkPatternStack(L, false);
  return kRunLibrary;
}

// lpeg.setmaxstack(n): the backtrack stack's limit, counted in an int.
// [-0, +0, e]
constexpr double kMostBacktrackEntries = 0x1p24;
int checkSetmaxstack(lua_State* L) {
  checkRange(L, 1, kIntLow, kMostBacktrackEntries + 1);
  return kRunLibrary;
}

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

// --- lua-cjson ------------------------------------------------------------

// lua-cjson sizes its buffers in an int (6 bytes reserved per byte of a
// string it encodes), and its buffers come from malloc, outside the
// interpreter's ceiling; when malloc fails it ends the process.  So no text
// it encodes or decodes may be larger than this, nor than the ceiling.
constexpr double kLargestJson = 256.0 * 1024 * 1024;
double largestJson() {
  const auto ceiling = static_cast<double>(engine::memoryCeiling());
  return ceiling != 0 && ceiling < kLargestJson ? ceiling : kLargestJson;
}

// Deeper than lua-cjson encodes by default: it refuses such a value itself.
constexpr int kDeepestJson = 1000;

// More than the bytes lua-cjson writes for the value at `index` (an
// absolute index), whatever its settings; the count stops soon after it
// passes `limit`.  Holes in an array are written as null.  Reads tables raw,
// as lua-cjson does, so no Lua code runs.
double jsonSizeBound(lua_State* L, int index, int depth, double limit) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING:
      return 6.0 * static_cast<double>(lua_objlen(L, index)) + 2;
    case LUA_TTABLE:
      break;
    default:
      return 32;  // a number, a boolean, null
  }
  if (depth > kDeepestJson || !lua_checkstack(L, 3)) return 2;
  double size = 2;
  double highestIndex = 0;
  bool array = true;  // only positive integer keys: written as an array
  lua_pushnil(L);
  while (size <= limit && lua_next(L, index) != 0) {
    const int top = lua_gettop(L);
    const double key = lua_type(L, top - 1) == LUA_TNUMBER ? lua_tonumber(L, top - 1) : 0;
    if (key >= 1 && key == std::floor(key)) {
      highestIndex = std::max(highestIndex, key);
    } else {
      array = false;
    }
    size +=
        jsonSizeBound(L, top - 1, depth + 1, limit) + jsonSizeBound(L, top, depth + 1, limit) + 4;
    lua_pop(L, 1);
  }
  if (size > limit) lua_pop(L, 1);  // the key lua_next left
  return array ? size + 5 * std::min(highestIndex, limit) : size;
}

int checkJsonEncode(lua_State* L) {
  const double limit = largestJson();
  if (lua_gettop(L) >= 1 && jsonSizeBound(L, 1, 0, limit) > limit) {
    luaL_argerror(L, 1, "too large to encode");
  }
  return kRunLibrary;
}

int checkJsonDecode(lua_State* L) {
  if (lua_type(L, 1) == LUA_TSTRING && static_cast<double>(lua_objlen(L, 1)) > largestJson()) {
    luaL_argerror(L, 1, "too large to decode");
  }
  return kRunLibrary;
}

void wrapTable(lua_State* L, const char* tableName);

// cjson.new(): a module table of its own, wrapped like the first.  The
// functions of cjson.safe are others, wrapped under a name of their own.
template <const char* kTable>
int runWrappingNew(lua_State* L, lua_CFunction original) {
  const int results = original(L);
  if (results >= 1 && lua_istable(L, -results)) {
    lua_pushvalue(L, -results);
    wrapTable(L, kTable);
    lua_pop(L, 1);
  }
  return results;
}
constexpr char kJson[] = "cjson";
constexpr char kSafeJson[] = "cjson.safe";

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

// --- socket.select --------------------------------------------------------

// socket.select asks each object in its lists for its descriptor twice, the
// second time without a bound, and writes that bit into a fixed-size set.
// The wrapper asks once, checks the answer, and hands the library a list of
// stand-ins that repeat it; the results name the objects again.  A stand-in
// is {descriptor, dirty, object, getfd = ..., dirty = ...}.
int standInDescriptor(lua_State* L) {
  lua_rawgeti(L, 1, 1);
  return 1;
}
int standInDirty(lua_State* L) {
  lua_rawgeti(L, 1, 2);
  return 1;
}

// Calls method `name` of the object on top, as the library does; pushes its
// first result, or nil when the object has no such method.
void callMethod(lua_State* L, const char* name) {
  lua_pushstring(L, name);
  lua_gettable(L, -2);
  if (lua_isnil(L, -1)) return;
  lua_pushvalue(L, -2);
  lua_call(L, 1, 1);
}

// Replaces the list at argument `arg` by its stand-ins.  An entry whose
// descriptor is not a number at least 0 is no socket, and the library
// would skip it too.  Stack unchanged.
void standInList(lua_State* L, int arg, bool askDirty) {
  if (lua_isnil(L, arg)) return;
  luaL_checktype(L, arg, LUA_TTABLE);
  lua_newtable(L);
  const int list = lua_gettop(L);
  int count = 0;
  for (int i = 1;; ++i) {
    lua_pushinteger(L, i);
    lua_gettable(L, arg);
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);
      break;
    }
    callMethod(L, "getfd");
    const double descriptor = lua_isnumber(L, -1) ? std::trunc(lua_tonumber(L, -1)) : -1;
    lua_pop(L, 1);
    if (!(descriptor >= 0)) {
      lua_pop(L, 1);
      continue;
    }
    if (descriptor >= FD_SETSIZE) luaL_argerror(L, arg, "descriptor too large for set size");
    bool dirty = false;
    if (askDirty) {
      callMethod(L, "dirty");
      dirty = lua_toboolean(L, -1) != 0;
      lua_pop(L, 1);
    }
    lua_createtable(L, 3, 2);
    lua_pushnumber(L, descriptor);
    lua_rawseti(L, -2, 1);
    lua_pushboolean(L, dirty);
    lua_rawseti(L, -2, 2);
    lua_pushvalue(L, -2);
    lua_rawseti(L, -2, 3);
    lua_pushcfunction(L, standInDescriptor);
    lua_setfield(L, -2, "getfd");
    lua_pushcfunction(L, standInDirty);
    lua_setfield(L, -2, "dirty");
    lua_rawseti(L, list, ++count);
    lua_pop(L, 1);
  }
  lua_replace(L, arg);
}

// Replaces the result list at `index`, when it is a table of stand-ins
// (array part, and each stand-in mapped back to its place), by the same
// list of the objects.  Stack unchanged.
void objectsBack(lua_State* L, int index) {
  if (!lua_istable(L, index)) return;
  lua_newtable(L);
  for (int i = 1;; ++i) {
    lua_rawgeti(L, index, i);
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      break;
    }
    lua_rawgeti(L, -1, 3);
    lua_remove(L, -2);
    lua_pushvalue(L, -1);
    lua_rawseti(L, -3, i);
    lua_pushinteger(L, i);
    lua_rawset(L, -3);
  }
  lua_replace(L, index);
}

int runSelect(lua_State* L, lua_CFunction original) {
  lua_settop(L, 3);
  standInList(L, 1, true);
  standInList(L, 2, false);
  const int results = original(L);
  const int first = lua_gettop(L) - results + 1;
  for (int i = 0; i < results && i < 2; ++i) objectsBack(L, first + i);
  return results;
}

// --- writes to pipes and sockets -------------------------------------------

// A write to a pipe or socket whose reader has gone raises SIGPIPE, which
// ends the host unless it chose otherwise; every function that can write
// to one runs with SIGPIPE held on its thread, and fails with EPIPE
// instead.  Only these, and only while they run: a child that io.popen or
// os.execute starts inherits the thread's mask.
int runHoldingBrokenPipe(lua_State* L, lua_CFunction original) {
  engine::BrokenPipeScope held;
  return original(L);
}

// --- the libraries loaded again -------------------------------------------

// package.loadlib and the searchers of require find a bundled library's
// opener again when a script names its file; that opener would register
// the library's own functions over the wrapped ones.  Each one found is
// handed out as openBounded, which wraps what it opens.
struct Opener {
  lua_CFunction open;
  const char* table;
};
const Opener kOpeners[] = {
    {luaopen_bit, "bit"}, {luaopen_lpeg, "lpeg"}, {luaopen_socket_core, "socket"}};
// lua-cjson is a system module, loaded only when a script requires it: its
// openers are known by their names.
Opener cjsonOpener{nullptr, "cjson"};
Opener cjsonSafeOpener{nullptr, "cjson.safe"};

void wrapPatternOperators(lua_State* L);

// The opener of upvalue 1 called with the arguments; its results, the table
// first, wrapped.  [-0, +n]
int openBounded(lua_State* L) {
  engine::PipeDispositionKeeper hostDisposition;  // LuaSocket's core changes it
  const auto* opener = static_cast<const Opener*>(lua_touserdata(L, lua_upvalueindex(1)));
  lua_pushcfunction(L, opener->open);
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  if (lua_istable(L, 1)) {
    lua_pushvalue(L, 1);
    wrapTable(L, opener->table);
    if (opener->open == luaopen_lpeg) wrapPatternOperators(L);
    if (opener->open == luaopen_socket_core) guardSocketObjects(L, false);
    lua_pop(L, 1);
  }
  return lua_gettop(L);
}

// The interpreter's own openers, and luaL_openlibs that calls them all:
// opened again, they would register the libraries' own functions over the
// wrapped ones.  Known by the symbol's name, so that a copy of the
// interpreter's library at another path is known too.
bool isInterpreterOpener(const char* symbol) {
  static constexpr const char* kNames[] = {"luaopen_base", "luaopen_package", "luaopen_table",
                                           "luaopen_io",   "luaopen_os",      "luaopen_string",
                                           "luaopen_math", "luaopen_debug",   "luaL_openlibs"};
  for (const char* name : kNames) {
    if (std::strcmp(symbol, name) == 0) return true;
  }
  return false;
}

// The name of the symbol `function` is, or "".
const char* symbolName(lua_CFunction function) {
  Dl_info where{};
  if (dladdr(reinterpret_cast<void*>(function), &where) == 0 || where.dli_sname == nullptr ||
      where.dli_saddr != reinterpret_cast<void*>(function)) {
    return "";
  }
  return where.dli_sname;
}

// The opener `found` is, when it opens a library that gets wrapped.
const Opener* knownOpener(lua_CFunction found, const char* symbol) {
  for (const Opener& opener : kOpeners) {
    if (found == opener.open) return &opener;
  }
  for (Opener* opener : {&cjsonOpener, &cjsonSafeOpener}) {
    if (std::strcmp(symbol, opener == &cjsonOpener ? "luaopen_cjson" : "luaopen_cjson_safe") == 0) {
      opener->open = found;
      return opener;
    }
  }
  return nullptr;
}

// [-0, +0] What an interpreter opener found again is handed out as.
int refuseOpeningAgain(lua_State* L) {
  return luaL_error(L, "the interpreter's own libraries are open already");
}

int runFindingOpener(lua_State* L, lua_CFunction original) {
  const int results = original(L);
  if (results < 1) return results;
  const int first = lua_gettop(L) - results + 1;
  const lua_CFunction found = lua_tocfunction(L, first);
  if (found == nullptr) return results;
  const char* symbol = symbolName(found);
  if (isInterpreterOpener(symbol)) {
    lua_pushcfunction(L, refuseOpeningAgain);
    lua_replace(L, first);
  } else if (const Opener* opener = knownOpener(found, symbol)) {
    lua_pushlightuserdata(L, const_cast<Opener*>(opener));
    lua_pushcclosure(L, openBounded, 1);
    lua_replace(L, first);
  }
  return results;
}

// --- the wrapped functions -------------------------------------------------

// Runs a wrapped function: its check, then the library's function, in the
// same frame.
using Run = int (*)(lua_State* L, lua_CFunction original);

template <Check check>
int checkThenRun(lua_State* L, lua_CFunction original) {
  const int results = check(L);
  return results == kRunLibrary ? original(L) : results;
}

// Where a wrapped function lives: a global table ("" for the globals), or
// kPatternOperators, the metatable LPeg gives every pattern.
constexpr const char* kPatternOperators = "lpeg pattern";
// and kSearchers, package.loaders, whose entries are numbered; and
// kFileMethods, io's metatable of files (which holds their methods too).
constexpr const char* kSearchers = "package.loaders";
constexpr const char* kFileMethods = "FILE*";

struct Bounded {
  const char* table;
  const char* name;
  Run run;
};

// Every function of the start-up set that takes a count, a position, a
// width or a repetition, and can go wrong with one out of range.  The
// others were tried with +-2^31, +-2^53, NaN and the infinities and convert
// them safely.
constexpr Bounded kBounded[] = {
    {"", "unpack", checkThenRun<checkUnpack>},
    {"", "select", checkThenRun<checkFirstInt>},
    {"", "getfenv", checkThenRun<checkFirstInt>},
    {"", "setfenv", checkThenRun<checkFirstInt>},
    {"table", "insert", checkThenRun<checkInsert>},
    {"table", "remove", checkThenRun<checkSecondInt>},
    {"table", "concat", checkThenRun<checkConcat>},
    {"string", "rep", checkThenRun<checkRep>},
    {"string", "sub", checkThenRun<checkRange23>},
    {"string", "byte", checkThenRun<checkRange23>},
    {"string", "char", checkThenRun<checkEveryInt>},
    {"string", "find", checkThenRun<checkFindInit>},
    {"string", "match", checkThenRun<checkMatchInit>},
    {"string", "gsub", checkThenRun<checkGsub>},
    {"string", "gmatch", runGmatch},
    {"debug", "getinfo", checkThenRun<checkGetinfo>},
    {"debug", "getlocal", checkThenRun<checkLocal>},
    {"debug", "setlocal", checkThenRun<checkLocal>},
    {"debug", "getupvalue", checkThenRun<checkSecondInt>},
    {"debug", "setupvalue", checkThenRun<checkSecondInt>},
    {"debug", "sethook", checkThenRun<checkSethook>},
    {"debug", "traceback", checkThenRun<checkTraceback>},
    {"bit", "tohex", checkThenRun<checkTohex>},
    // Every LPeg function that turns an argument into a pattern, and the
    // pattern operators; re builds its patterns through both.
    {"lpeg", "P", checkThenRun<checkPattern>},
    {"lpeg", "B", checkThenRun<checkPattern>},
    {"lpeg", "C", checkThenRun<checkPattern>},
    {"lpeg", "Cs", checkThenRun<checkPattern>},
    {"lpeg", "Ct", checkThenRun<checkPattern>},
    {"lpeg", "Cg", checkThenRun<checkPattern>},
    {"lpeg", "Cmt", checkThenRun<checkPattern>},
    {"lpeg", "Cf", checkThenRun<checkPattern>},
    {"lpeg", "match", checkThenRun<checkMatch>},
    {"lpeg", "setmaxstack", checkThenRun<checkSetmaxstack>},
    {"lpeg", "ptree", checkThenRun<checkPattern>},
    {"lpeg", "pcode", checkThenRun<checkPattern>},
    {kPatternOperators, "__add", checkThenRun<checkTwoPatterns>},
    {kPatternOperators, "__sub", checkThenRun<checkTwoPatterns>},
    {kPatternOperators, "__mul", checkThenRun<checkTwoPatterns>},
    {kPatternOperators, "__pow", checkThenRun<checkRepetition>},
    {kPatternOperators, "__div", checkThenRun<checkPattern>},
    {kPatternOperators, "__unm", checkThenRun<checkPattern>},
    {kPatternOperators, "__len", checkThenRun<checkPattern>},
    {"package", "loadlib", runFindingOpener},
    {kSearchers, "1", runFindingOpener},
    {kSearchers, "2", runFindingOpener},
    {kSearchers, "3", runFindingOpener},
    {kSearchers, "4", runFindingOpener},
    {"socket", "select", runSelect},
    {"socket", "skip", checkThenRun<checkSkip>},
    {"socket", "sleep", checkThenRun<checkSleep>},
    {"", "print", runHoldingBrokenPipe},
    {"io", "write", runHoldingBrokenPipe},
    {"io", "flush", runHoldingBrokenPipe},
    {"io", "close", runHoldingBrokenPipe},
    {kFileMethods, "write", runHoldingBrokenPipe},
    {kFileMethods, "flush", runHoldingBrokenPipe},
    {kFileMethods, "close", runHoldingBrokenPipe},
    {kFileMethods, "seek", runHoldingBrokenPipe},
    {kFileMethods, "setvbuf", runHoldingBrokenPipe},
    {kFileMethods, "__gc", runHoldingBrokenPipe},
    {kJson, "encode", checkThenRun<checkJsonEncode>},
    {kJson, "decode", checkThenRun<checkJsonDecode>},
    {kJson, "new", runWrappingNew<kJson>},
    {kSafeJson, "encode", checkThenRun<checkJsonEncode>},
    {kSafeJson, "decode", checkThenRun<checkJsonDecode>},
    {kSafeJson, "new", runWrappingNew<kSafeJson>},
};
constexpr std::size_t kBoundedCount = std::size(kBounded);

// The library's function behind each wrapper, kept here out of reach of
// scripts.  It is the same function in every interpreter: the libraries
// are loaded once per process.
lua_CFunction originals[kBoundedCount];

template <std::size_t I>
int wrapper(lua_State* L) {
  return kBounded[I].run(L, originals[I]);
}

template <std::size_t... I>
constexpr std::array<lua_CFunction, sizeof...(I)> makeWrappers(std::index_sequence<I...>) {
  return {wrapper<I>...};
}
constexpr auto kWrappers = makeWrappers(std::make_index_sequence<kBoundedCount>());

// Pushes the key of wrapped function `i` in its table.
void pushKey(lua_State* L, std::size_t i) {
  if (kBounded[i].table == kSearchers) {
    lua_pushinteger(L, std::atoi(kBounded[i].name));
  } else {
    lua_pushstring(L, kBounded[i].name);
  }
}

// Replaces field `name` of the table at `table`, when it is a C function,
// by wrapper `i` with the same upvalues and environment, so that the
// library's function runs in the wrapper's frame as it ran in its own.
// Stack unchanged.
void wrapField(lua_State* L, int table, std::size_t i) {
  pushKey(L, i);
  lua_rawget(L, table);
  const lua_CFunction function = lua_tocfunction(L, -1);
  if (function == nullptr || function == kWrappers[i]) {
    lua_pop(L, 1);
    return;
  }
  originals[i] = function;
  const int original = lua_gettop(L);
  int upvalues = 0;
  while (lua_getupvalue(L, original, upvalues + 1) != nullptr) ++upvalues;
  lua_pushcclosure(L, kWrappers[i], upvalues);
  lua_getfenv(L, original);
  lua_setfenv(L, -2);
  pushKey(L, i);
  lua_insert(L, -2);
  lua_rawset(L, table);
  lua_pop(L, 1);
}

// Wraps the functions listed for `tableName` in the table on top.  Stack
// unchanged.
void wrapTable(lua_State* L, const char* tableName) {
  if (!lua_istable(L, -1)) return;
  const int table = lua_gettop(L);
  for (std::size_t i = 0; i < kBoundedCount; ++i) {
    if (std::strcmp(kBounded[i].table, tableName) == 0) wrapField(L, table, i);
  }
}

void wrapGlobalTable(lua_State* L, const char* name) {
  if (*name == '\0') {
    lua_pushvalue(L, LUA_GLOBALSINDEX);
  } else {
    lua_getglobal(L, name);
  }
  wrapTable(L, name);
  lua_pop(L, 1);
}

// LPeg keeps its operators in the metatable of every pattern; one made by
// P(true) of the LPeg table on top leads to it.  Stack unchanged.
void wrapPatternOperators(lua_State* L) {
  if (!lua_istable(L, -1)) return;
  lua_getfield(L, -1, "P");
  lua_pushboolean(L, 1);
  if (lua_pcall(L, 1, 1, 0) == 0 && lua_getmetatable(L, -1)) {
    patternMetatable = lua_topointer(L, -1);
    wrapTable(L, kPatternOperators);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
}

}  // namespace

void boundCoreLibraryArguments(lua_State* L) {
  for (const char* name : {"", "table", "string", "debug", "bit", "package", "io"}) {
    wrapGlobalTable(L, name);
  }
  lua_getfield(L, LUA_REGISTRYINDEX, kFileMethods);
  wrapTable(L, kFileMethods);
  lua_pop(L, 1);
  lua_getglobal(L, "package");
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "loaders");
    wrapTable(L, kSearchers);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  lua_getglobal(L, "lpeg");
  wrapPatternOperators(L);
  lua_pop(L, 1);
  wrapGlobalTable(L, "lpeg");
}

void boundSocketArguments(lua_State* L) {
  wrapGlobalTable(L, "socket");
}

}  // namespace vesko
