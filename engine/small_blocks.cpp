#include "engine/small_blocks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VESKO_POISON(block, size) ASAN_POISON_MEMORY_REGION(block, size)
#define VESKO_UNPOISON(block, size) ASAN_UNPOISON_MEMORY_REGION(block, size)
#else
#define VESKO_POISON(block, size) ((void)(block), (void)(size))
#define VESKO_UNPOISON(block, size) ((void)(block), (void)(size))
#endif

namespace vesko::engine {

namespace {

constexpr std::size_t kGrain = 16;  // malloc's alignment; every class is a multiple
constexpr std::size_t kClasses = 16;
constexpr std::size_t kLargestSmall = kGrain * kClasses;
// Under malloc's threshold for mapping pages of its own, so slabs come from
// and go back to the heap cheaply.
constexpr std::size_t kSlabBytes = 64 * 1024;

struct FreeBlock {
  FreeBlock* next;
};

// A large block that had to shrink to a small size when no small block
// could be had keeps its place as a stray: a small block from malloc.  Its
// node lies past the small sizes, in room every large block has
// (kLargeBlockLeast), so noting it never allocates.
struct StrayNode {
  StrayNode* next;
};
constexpr std::size_t kLargeBlockLeast = kLargestSmall + sizeof(StrayNode);

StrayNode* strayNode(void* block) {
  return reinterpret_cast<StrayNode*>(static_cast<char*>(block) + kLargestSmall);
}

// Invariant: every block on a free list lies in a slab, is as large as its
// class and (under AddressSanitizer) is poisoned but for nothing.  Strays
// never go on a free list: freeing one gives it back to malloc.
struct Pool {
  FreeBlock* free[kClasses + 1] = {};  // by class; 0 unused
  char* carve = nullptr;               // the unused rest of the newest slab
  std::size_t carveLeft = 0;
  std::vector<void*> slabs;
  StrayNode* strays = nullptr;  // live strays, by their nodes
  bool refuseSlabs = false;
};
Pool pool;

// Takes `block` off the list of strays; false when it is not one.
bool forgetStray(void* block) {
  for (StrayNode** link = &pool.strays; *link != nullptr; link = &(*link)->next) {
    if (*link == strayNode(block)) {
      *link = (*link)->next;
      return true;
    }
  }
  return false;
}

// A large block's size as malloc is asked for it.
std::size_t largeBytes(std::size_t size) {
  return std::max(size, kLargeBlockLeast);
}

std::size_t classOf(std::size_t size) {
  return (size + kGrain - 1) / kGrain;
}

void giveSmall(void* block, std::size_t cls) {
  // Strays are rare: a list looked at only while there are any.
  if (pool.strays != nullptr && forgetStray(block)) {
    std::free(block);
    return;
  }
  auto* freed = static_cast<FreeBlock*>(block);
  freed->next = pool.free[cls];
  pool.free[cls] = freed;
  VESKO_POISON(block, cls * kGrain);
}

void* takeSmall(std::size_t cls) {
  const std::size_t size = cls * kGrain;
  if (FreeBlock* block = pool.free[cls]) {
    VESKO_UNPOISON(block, size);
    pool.free[cls] = block->next;
    return block;
  }
  if (pool.carveLeft < size) {
    // What is left of the old slab goes to the free lists it fits.
    while (pool.carveLeft >= kGrain) {
      const std::size_t restClass = std::min(pool.carveLeft / kGrain, kClasses);
      VESKO_UNPOISON(pool.carve, restClass * kGrain);
      giveSmall(pool.carve, restClass);
      pool.carve += restClass * kGrain;
      pool.carveLeft -= restClass * kGrain;
    }
    if (pool.slabs.size() == pool.slabs.capacity()) {
      try {
        pool.slabs.reserve(pool.slabs.size() * 2 + 16);
      } catch (...) {
        return nullptr;
      }
    }
    void* slab = pool.refuseSlabs ? nullptr : std::malloc(kSlabBytes);
    if (slab == nullptr) return nullptr;
    pool.slabs.push_back(slab);
    VESKO_POISON(slab, kSlabBytes);
    pool.carve = static_cast<char*>(slab);
    pool.carveLeft = kSlabBytes;
  }
  void* block = pool.carve;
  pool.carve += size;
  pool.carveLeft -= size;
  VESKO_UNPOISON(block, size);
  return block;
}

}  // namespace

void* resizeBlock(void* block, std::size_t oldSize, std::size_t newSize) {
  const bool wasSmall = block != nullptr && oldSize <= kLargestSmall;
  if (newSize > kLargestSmall) {
    if (block == nullptr || !wasSmall) return std::realloc(block, largeBytes(newSize));
    void* grown = std::malloc(largeBytes(newSize));
    if (grown == nullptr) return nullptr;
    std::memcpy(grown, block, oldSize);
    giveSmall(block, classOf(oldSize));
    return grown;
  }
  const std::size_t cls = classOf(newSize);
  if (wasSmall && classOf(oldSize) == cls) return block;
  void* moved = takeSmall(cls);
  if (moved == nullptr) {
    // A block that shrinks must not fail: it keeps its place, and from
    // now on counts as a block of its new class (it is larger than that).
    // A large one becomes a stray.
    if (block == nullptr || newSize >= oldSize) return nullptr;
    if (!wasSmall) {
      strayNode(block)->next = pool.strays;
      pool.strays = strayNode(block);
    }
    return block;
  }
  if (block != nullptr) {
    std::memcpy(moved, block, std::min(oldSize, newSize));
    if (wasSmall) {
      giveSmall(block, classOf(oldSize));
    } else {
      std::free(block);
    }
  }
  return moved;
}

void freeBlock(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (size <= kLargestSmall) {
    giveSmall(block, classOf(size));
  } else {
    std::free(block);
  }
}

void refuseNewSlabs(bool refuse) {
  pool.refuseSlabs = refuse;
}

void releaseBlocks() {
  for (void* slab : pool.slabs) {
    VESKO_UNPOISON(slab, kSlabBytes);
    std::free(slab);
  }
  pool = Pool();
}

}  // namespace vesko::engine
