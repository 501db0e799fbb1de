#include "engine/process_locale.h"

#include <clocale>
#include <cstring>

#include "lua.hpp"

namespace vesko::engine {

namespace {

// The innermost open mark; null outside any call.
LocaleMark* innermost = nullptr;

// The os library's own setlocale, called directly: kept as an upvalue, a
// script could reach it (debug.getupvalue) and change the locale unnoted.
lua_CFunction baseSetlocale = nullptr;

// [-0, +1] os.setlocale([locale [, category]]): a query changes nothing
// and is passed on as it is.
int noteAndSetlocale(lua_State* L) {
  if (!lua_isnoneornil(L, 1) && innermost != nullptr && !innermost->noteBeforeChange()) {
    return luaL_error(L, "not enough memory");
  }
  return baseSetlocale(L);
}

}  // namespace

LocaleMark::LocaleMark() noexcept : outer_(innermost) {
  innermost = this;
}

LocaleMark::~LocaleMark() {
  innermost = outer_;
  if (!noted_) return;
  const char* now = std::setlocale(LC_ALL, nullptr);
  if (now == nullptr || std::strcmp(now, saved_.c_str()) != 0) {
    std::setlocale(LC_ALL, saved_.c_str());
  }
}

bool LocaleMark::noteBeforeChange() noexcept {
  if (noted_) return true;
  const char* name = std::setlocale(LC_ALL, nullptr);
  if (name == nullptr) return true;  // nothing to put back
  try {
    saved_ = name;  // the name setlocale lends changes with the locale
  } catch (...) {
    return false;
  }
  noted_ = true;
  return true;
}

void watchLocale(lua_State* L) {
  lua_getglobal(L, "os");
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "setlocale");
    baseSetlocale = lua_tocfunction(L, -1);
    lua_pop(L, 1);
    if (baseSetlocale != nullptr) {
      lua_pushcfunction(L, noteAndSetlocale);
      lua_setfield(L, -2, "setlocale");
    }
  }
  lua_pop(L, 1);
}

}  // namespace vesko::engine
