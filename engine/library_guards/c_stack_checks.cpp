// C stack checks: the pattern matcher of the string library and LPeg's
// tree walks recurse once per nesting level, without a limit of their own.
// Before they run, the C stack left must hold the deepest walk.
#include <algorithm>
#include <cstdint>

#include <lua.hpp>

#include "engine/c_stack.h"
#include "engine/library_guards/checks.h"

namespace vesko::engine {

namespace {

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

}  // namespace

int checkMatchInit(lua_State* L) {
  checkInteger(L, 3);
  checkCStack(L, matcherBytes(L, 2));
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
  checkCStack(L, matcherBytes(L, 2));
  return kRunLibrary;
}

namespace {

// The library's iterator behind string.gmatch: the same C function for
// every loop, its state in its upvalues (the string, the pattern, the
// position).
lua_CFunction gmatchIterator = nullptr;

// One step of a loop of string.gmatch: upvalues 1 to 3 those of the
// library's iterator, which runs in this frame on them, and 4 the C stack
// its pattern takes.  [-0, +n]
int gmatchStep(lua_State* L) {
  checkCStack(L, static_cast<std::size_t>(lua_tonumber(L, lua_upvalueindex(4))));
  return gmatchIterator(L);
}

}  // namespace

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

namespace {

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

}  // namespace

const void* patternMetatable = nullptr;

namespace {

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

}  // namespace

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
  checkCStack(L, kPatternBaseBytes + deepest * kPatternFrameBytes);
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

}  // namespace vesko::engine
