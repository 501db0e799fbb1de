#include "engine/traceback.h"

#include <vector>

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
// (lua_Debug's i_ci: the frame's distance from the bottom of the call
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
    // The levels to show, oldest last; the main state's hidden frames go.
    const bool main = L == mainState;
    std::vector<int> shown;
    lua_Debug frame;
    for (int at = level; lua_getstack(L, at, &frame) != 0; ++at) {
      if (!(main && isHidden(frame))) shown.push_back(at);
    }
    // Shortened as debug.traceback shortens: it counts from level 0, so
    // the first part holds the levels below kLevelsFirst.
    std::string text = "stack traceback:";
    const int count = static_cast<int>(shown.size());
    const bool tooMany = level + count > kLevelsFirst + kLevelsLast + 1;
    for (int i = 0; i < count; ++i) {
      if (tooMany && i == kLevelsFirst - level) {
        text += "\n\t...";
        i = count - kLevelsLast - 1;
        continue;
      }
      lua_Debug ar;
      lua_getstack(L, shown[i], &ar);
      lua_getinfo(L, "Snl", &ar);
      appendLevel(&text, ar);
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
