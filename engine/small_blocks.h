// The interpreter's small blocks, from a pool of size classes behind its
// allocator.  Lua allocates a great many small objects (strings, tables,
// table parts, closures) and tells the size of a block when it frees it, so
// a class per 16 bytes up to 256 with a free list each serves them without
// the general allocator's bookkeeping.  Larger blocks go to malloc.
//
// The pool is the plug-in's own: the host process's malloc is untouched.
// Memory a class once took stays with that class until every block of the
// interpreter is freed (lua_close), when it all goes back to malloc.
#ifndef VESKO_ENGINE_SMALL_BLOCKS_H
#define VESKO_ENGINE_SMALL_BLOCKS_H

#include <cstddef>

namespace vesko::engine {

// realloc with the sizes Lua's allocator is given: `oldSize` is the size
// `block` was allocated with (0 with a null block), `newSize` is not 0.
// Answers null, `block` untouched, when there is no memory; a block that
// shrinks never fails.
void* resizeBlock(void* block, std::size_t oldSize, std::size_t newSize);

// Frees a block of `size` bytes (null is ignored).
void freeBlock(void* block, std::size_t size);

// Gives every slab back to malloc.  Only when no block is in use.
void releaseBlocks();

// For tests: while `refuse` is set, no new slab is taken, as when malloc
// has no memory for one.
void refuseNewSlabs(bool refuse);

}  // namespace vesko::engine

#endif
