// LuaSocket knows its objects by their metatable's names ("tcp{any}",
// "select{able}"), and any table can carry those names: a script that
// gives newproxy's userdata such a metatable, or calls a socket's method
// with another object, makes LuaSocket read and write memory that is no
// socket.  Every method of LuaSocket's classes (and their __gc and
// __tostring) is therefore wrapped: it runs only on an object whose
// metatable is one of the classes' own, and otherwise raises the usual
// argument error.
#ifndef VESKO_ENGINE_LIBRARY_GUARDS_SOCKET_OBJECTS_H
#define VESKO_ENGINE_LIBRARY_GUARDS_SOCKET_OBJECTS_H

struct lua_State;

namespace vesko::engine {

// Notes the classes LuaSocket has registered and wraps their methods; run
// after LuaSocket's core opens at start-up (`startUp`: a new interpreter's
// classes replace the old one's) and whenever it opens again.  Stack
// unchanged.
void guardSocketObjects(lua_State* L, bool startUp);

}  // namespace vesko::engine

#endif
