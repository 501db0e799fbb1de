#include "engine/c_stack.h"

#include <pthread.h>

#include <cstdint>
#include <limits>

#include "lua.hpp"

namespace vesko::engine {

namespace {

// The lowest usable address of the calling thread's stack, read once per
// thread (for the process's first thread glibc reads /proc, which is far
// too slow to do per check).  0 when unknown.
uintptr_t stackLimit() noexcept {
  thread_local uintptr_t limit = [] {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return uintptr_t{0};
    void* low = nullptr;
    std::size_t size = 0;
    const bool known = pthread_attr_getstack(&attributes, &low, &size) == 0;
    pthread_attr_destroy(&attributes);
    if (!known) return uintptr_t{0};
    // The guard page and whatever the kernel keeps below the first thread's
    // stack are past this point; a page of slack covers both.
    return reinterpret_cast<uintptr_t>(low) + 4096;
  }();
  return limit;
}

}  // namespace

std::size_t freeCStack() noexcept {
  const uintptr_t limit = stackLimit();
  if (limit == 0) return std::numeric_limits<std::size_t>::max();
  // The frame's address stands for the stack pointer (a local's address
  // may lie in a sanitizer's fake stack); stacks grow down.
  const auto at = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  return at > limit ? at - limit : 0;
}

void checkCStack(lua_State* L, std::size_t needed) {
  const std::size_t left = freeCStack();
  if (left < kCStackReserve || left - kCStackReserve < needed) luaL_error(L, "C stack overflow");
}

}  // namespace vesko::engine
