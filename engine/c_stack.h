// The C stack of the thread the host calls from is a budget.  Work that
// recurses in C (pattern matching, LPeg, callbacks into Lua, nested host
// calls) asks what is left before it starts and refuses with a Lua error
// when too little is: a host thread may have far less than the usual
// 8 MiB, and no bound on a depth alone fits every thread.
#ifndef VESKO_ENGINE_C_STACK_H
#define VESKO_ENGINE_C_STACK_H

#include <cstddef>

struct lua_State;

namespace vesko::engine {

// What any Lua code may still use after a check passes without checking
// again: the interpreter's own C-call limit lets unchecked calls (metamethods,
// pcall, finalizers) nest about 200 deep, a few hundred bytes each.
inline constexpr std::size_t kCStackReserve = 192 * 1024;

// Bytes of C stack left below the caller's frame on the calling thread;
// the largest value when the thread's bounds cannot be read.
std::size_t freeCStack() noexcept;

// [-0, +0, e] Raises "C stack overflow", as the interpreter does at its
// own C-call limit, unless `needed` bytes plus kCStackReserve are left.
void checkCStack(lua_State* L, std::size_t needed = 0);

}  // namespace vesko::engine

#endif
