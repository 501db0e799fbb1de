// The Lua function a coroutine runs when Vesko_CallFunction is given a C
// function: the interpreter cannot resume a coroutine whose body is a C
// function that yielded (it would continue a Lua frame that is not there),
// so the body is always a Lua function that tail-calls the C one.
#ifndef VESKO_ENGINE_CALL_TRAMPOLINE_H
#define VESKO_ENGINE_CALL_TRAMPOLINE_H

struct lua_State;

namespace vesko::engine {

// [-0, +1] Pushes a new trampoline, function(f, ...) return f(...) end.
// It carries no line or variable names, so a message that a C function
// raises reads as it would with the C function as the body (no position,
// "?" for the function's name).  Raises on a memory error.
void pushCallTrampoline(lua_State* L);

}  // namespace vesko::engine

#endif
