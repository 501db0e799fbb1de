#include "engine/anchors.h"

#include "lua.hpp"

namespace vesko::engine {

lua_State* anchors = nullptr;

void prepareAnchors(lua_State* L, lua_State* thread) {
  // Grows the stack now, under start-up's protected call; later pushes stay
  // inside it (a failed growth outside one would end in the panic handler).
  if (!lua_checkstack(thread, kFirstHoldSlot + kMaxHolds + kAnchorPushRoom))
    luaL_error(L, "no room for anchors");
  lua_settop(thread, kFirstHoldSlot - 1);
  anchors = thread;
}

void resetAnchors() noexcept {
  anchors = nullptr;
}

void pushAnchored(lua_State* L, int slot) {
  lua_pushvalue(anchors, slot);
  lua_xmove(anchors, L, 1);
}

void setAnchored(lua_State* L, int slot) {
  lua_xmove(L, anchors, 1);
  lua_replace(anchors, slot);
}

CoroutineHold::CoroutineHold(lua_State* L) {
  if (anchors == nullptr || lua_gettop(anchors) >= kFirstHoldSlot - 1 + kMaxHolds) {
    lua_pop(L, 1);
    return;
  }
  lua_xmove(L, anchors, 1);
  slot_ = lua_gettop(anchors);
}

CoroutineHold::~CoroutineHold() {
  // Holds end in reverse order, so this one is on top (a shutdown inside
  // the handler leaves no anchors at all).
  if (slot_ != 0 && anchors != nullptr) lua_settop(anchors, slot_ - 1);
}

bool isHeld(const lua_State* co) {
  if (anchors == nullptr) return false;
  for (int slot = lua_gettop(anchors); slot >= kFirstHoldSlot; --slot) {
    if (lua_tothread(anchors, slot) == co) return true;
  }
  return false;
}

}  // namespace vesko::engine
