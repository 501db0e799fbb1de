// Writing straight into the block of a luaL_Buffer, for codecs that emit
// several bytes at a time.
#ifndef VESKO_LIBRARY_LUA_BUFFER_H
#define VESKO_LIBRARY_LUA_BUFFER_H

#include <cstddef>

#include <lua.hpp>

namespace vesko {

// Where `n` more bytes (n <= LUAL_BUFFERSIZE) can be written; the block is
// handed to the buffer first if it has less room left.  Call luaL_addsize
// with the count actually written.
inline char* bufferRoom(luaL_Buffer* b, std::size_t n) {
  if (static_cast<std::size_t>(b->buffer + LUAL_BUFFERSIZE - b->p) < n) luaL_prepbuffer(b);
  return b->p;
}

}  // namespace vesko

#endif
