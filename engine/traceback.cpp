// A port of debug.traceback (Lua 5.1's ldblib.c, db_errorfb): the same
// levels, the same line per level, shortened the same way, so a traceback
// reads as the stand-alone interpreter's would.  It differs in what it
// leaves out (the plug-in's own frames, hiddenFrames) and in finding the
// last level (lastLevel, after luaL_traceback's lastlevel of Lua 5.2).
//
// It reads lua_Debug::i_ci, a field lua.h lists in the struct's private
// part: the interpreter's own index of a frame's CallInfo, counted from
// the bottom of the thread's call stack.  lua_getstack sets it and
// lua_getinfo, lua_getlocal and lua_setlocal read nothing else to find the
// frame.  With Debian's liblua5.1 (5.1.5, the last 5.1 release, so the
// layout no longer changes) it is an int that stays valid while the frame
// is live, whatever is pushed above it, which is what hiddenFrames and
// time_limit.cpp's xpcall frames rely on.  Another interpreter breaks
// this: from Lua 5.2 on the field is a CallInfo pointer (this no longer
// compiles), and an interpreter that keeps the int but means something
// else by it would hide the wrong frames and set locals in the wrong one.
#include "engine/traceback.h"

#include <climits>

#include "engine/anchors.h"
#include "engine/engine.h"
#include "lua.hpp"

namespace vesko::engine {

namespace {

// How debug.traceback shortens a deep stack: the first kLevelsFirst levels,
// "...", then the last kLevelsLast.
constexpr int kLevelsFirst = 12;
constexpr int kLevelsLast = 10;

std::string pending;

// The plug-in's own frames on the main state, by their call-info index
// (lua_Debug's private i_ci, see above: the frame's distance from the bottom of the call
// stack, which, unlike a level, does not change as frames are pushed
// above it).  Innermost last.
constexpr int kMaxHiddenFrames = 64;
int hiddenFrames[kMaxHiddenFrames];
int hiddenCount = 0;

bool isHidden(const lua_Debug& ar) {
  for (int i = 0; i < hiddenCount; ++i) {
    if (hiddenFrames[i] == ar.i_ci) return true;
  }
  return false;
}

// The line debug.traceback writes for one level (db_errorfb's loop body).
void appendLevel(std::string* text, const lua_Debug& ar) {
  *text += "\n\t";
  *text += ar.short_src;
  *text += ':';
  if (ar.currentline > 0) *text += std::to_string(ar.currentline) + ':';
  if (*ar.namewhat != '\0') {
    *text += " in function '";
    *text += ar.name;
    *text += '\'';
  } else if (*ar.what == 'm') {
    *text += " in main chunk";
  } else if (*ar.what == 'C' || *ar.what == 't') {
    *text += " ?";
  } else {
    *text += " in function <";
    *text += ar.short_src;
    *text += ':' + std::to_string(ar.linedefined) + '>';
  }
}

// The highest level on L's stack, -1 for none.  lua_getstack(L, n) walks
// n frames (a run of tail calls counts as many levels but one frame), so
// the end is probed as luaL_traceback of Lua 5.2 (lauxlib.c, lastlevel) does:
// doubling, then halving, O(log depth) probes.  [-0, +0]
int lastLevel(lua_State* L) {
  lua_Debug ar;
  if (lua_getstack(L, 0, &ar) == 0) return -1;
  int found = 0;    // a level that exists
  int missing = 1;  // one that may not
  while (lua_getstack(L, missing, &ar) != 0) {
    found = missing;
    if (missing > INT_MAX / 2) return found;
    missing *= 2;
  }
  while (missing - found > 1) {
    const int middle = found + (missing - found) / 2;
    if (lua_getstack(L, middle, &ar) != 0) {
      found = middle;
    } else {
      missing = middle;
    }
  }
  return found;
}

// [-1, +1] The message handler.  Only the debug interface is used: it
// reads frames without allocating in the interpreter or running code.
int tracebackHandler(lua_State* L) {
  captureTraceback(L, 1);
  return 1;
}

}  // namespace

void captureTraceback(lua_State* L, int level) noexcept {
  pending.clear();
  try {
    // The main state's hidden frames are plug-in functions below every
    // level a capture starts from, all of them live.
    const bool main = L == mainState;
    const int last = lastLevel(L);
    const int count = last - level + 1 - (main ? hiddenCount : 0);
    // Shortened as debug.traceback shortens: it counts from level 0, so
    // the first part holds the levels below kLevelsFirst.
    const bool tooMany = level + count > kLevelsFirst + kLevelsLast + 1;
    const int first = tooMany ? kLevelsFirst - level : count;
    std::string text = "stack traceback:";
    lua_Debug ar;
    int at = level;
    for (int shown = 0; shown < first && lua_getstack(L, at, &ar) != 0; ++at) {
      if (main && isHidden(ar)) continue;
      lua_getinfo(L, "Snl", &ar);
      appendLevel(&text, ar);
      ++shown;
    }
    if (tooMany) {
      text += "\n\t...";
      // The last levels, found from the end; the ones between are only
      // counted, never visited.
      int lastShown[kLevelsLast];
      int found = 0;
      for (int back = last; found < kLevelsLast && back >= at; --back) {
        if (lua_getstack(L, back, &ar) == 0) continue;
        if (main && isHidden(ar)) continue;
        lastShown[found++] = back;
      }
      while (found > 0) {
        lua_getstack(L, lastShown[--found], &ar);
        lua_getinfo(L, "Snl", &ar);
        appendLevel(&text, ar);
      }
    }
    pending = std::move(text);
  } catch (...) {
    pending.clear();  // no traceback rather than half of one
  }
}

void prepareTracebackHandler(lua_State* L) {
  lua_pushcfunction(L, tracebackHandler);
  setAnchored(L, kTracebackHandlerSlot);
}

HiddenFrame::HiddenFrame(lua_State* L) noexcept {
  if (L != mainState || hiddenCount == kMaxHiddenFrames) return;
  lua_Debug frame;
  if (lua_getstack(L, 0, &frame) == 0) return;
  hiddenFrames[hiddenCount++] = frame.i_ci;
  marked_ = true;
}

HiddenFrame::~HiddenFrame() {
  if (marked_) --hiddenCount;
}

void resetTraceback() noexcept {
  pending.clear();
  hiddenCount = 0;
}

std::string takePendingTraceback() noexcept {
  std::string taken;
  taken.swap(pending);
  return taken;
}

}  // namespace vesko::engine
