// coroutine.resume and coroutine.wrap around the base library's (Lua 5.1's
// lbaselib.c); the function wrap answers follows luaB_auxwrap, raising what
// the coroutine raised as it does.  The difference: the coroutine takes
// over the time-limit hook of the thread that resumes it and is known as
// running while it runs (time_limit.h).
#include "engine/time_limit.h"
#include "engine/loop_deadline.h"

namespace vesko::engine {

namespace {

// coroutine.resume(co, ...), upvalue 1 the base library's.  [-0, +n]
int resume(lua_State* L) {
  lua_State* co = lua_tothread(L, 1);
  luaL_argcheck(L, co != nullptr, 1, "coroutine expected");
  carryTimeLimit(L, co);
  ResumedThread running(co);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  return lua_gettop(L);
}

// The function coroutine.wrap answers: upvalue 1 the coroutine, 2 the base
// library's coroutine.resume.  Raises what the coroutine raised, a string
// prefixed with the caller's position, as the base library's does.
// [-0, +n]
int resumeWrapped(lua_State* L) {
  lua_State* co = lua_tothread(L, lua_upvalueindex(1));
  carryTimeLimit(L, co);
  ResumedThread running(co);
  lua_pushvalue(L, lua_upvalueindex(2));
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  const bool resumed = lua_toboolean(L, 1) != 0;
  lua_remove(L, 1);
  if (resumed) return lua_gettop(L);
  lua_settop(L, 1);
  if (lua_isstring(L, 1)) {
    luaL_where(L, 1);
    lua_insert(L, 1);
    lua_concat(L, 2);
  }
  return lua_error(L);
}

// coroutine.wrap(f), upvalue 1 the base library's coroutine.resume.
// [-0, +1]
int wrap(lua_State* L) {
  luaL_argcheck(L, lua_isfunction(L, 1) && !lua_iscfunction(L, 1), 1, "Lua function expected");
  lua_State* co = lua_newthread(L);
  lua_pushvalue(L, 1);
  lua_xmove(L, co, 1);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_pushcclosure(L, resumeWrapped, 2);
  return 1;
}

}  // namespace

void watchCoroutines(lua_State* L) {
  deadlineCheck = checkDeadline;
  lua_pushcfunction(L, watchedXpcall);
  lua_setglobal(L, "xpcall");

  lua_getglobal(L, "coroutine");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return;
  }
  lua_getfield(L, -1, "resume");
  lua_pushvalue(L, -1);
  lua_pushcclosure(L, resume, 1);
  lua_setfield(L, -3, "resume");
  lua_pushcclosure(L, wrap, 1);
  lua_setfield(L, -2, "wrap");
  lua_pop(L, 1);
}

}  // namespace vesko::engine
