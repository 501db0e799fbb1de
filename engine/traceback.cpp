#include "engine/traceback.h"

#include "lua.hpp"

namespace vesko::engine {

namespace {

// How debug.traceback shortens a deep stack: the first kLevelsFirst levels,
// "...", then the last kLevelsLast.
constexpr int kLevelsFirst = 12;
constexpr int kLevelsLast = 10;

std::string pending;

// The registry key of the message handler.
char handlerKey;

// The line debug.traceback writes for one level.
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
    std::string text = "stack traceback:";
    lua_Debug ar;
    bool firstPart = true;
    while (lua_getstack(L, level++, &ar) != 0) {
      if (level > kLevelsFirst && firstPart) {
        // More than kLevelsLast levels still to come: skip to the last ones.
        if (lua_getstack(L, level + kLevelsLast, &ar) == 0) {
          --level;
        } else {
          text += "\n\t...";
          while (lua_getstack(L, level + kLevelsLast, &ar) != 0) ++level;
        }
        firstPart = false;
        continue;
      }
      lua_getinfo(L, "Snl", &ar);
      appendLevel(&text, ar);
    }
    pending = std::move(text);
  } catch (...) {
    pending.clear();  // no traceback rather than half of one
  }
}

void pushTracebackHandler(lua_State* L) {
  lua_pushlightuserdata(L, &handlerKey);
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (!lua_isnil(L, -1)) return;
  lua_pop(L, 1);
  lua_pushcfunction(L, tracebackHandler);
  lua_pushlightuserdata(L, &handlerKey);
  lua_pushvalue(L, -2);
  lua_rawset(L, LUA_REGISTRYINDEX);
}

std::string takePendingTraceback() noexcept {
  std::string taken;
  taken.swap(pending);
  return taken;
}

}  // namespace vesko::engine
