// The interpreter's pool of small blocks: contents survive every resize,
// shrinking never fails, and blocks are reused.
#include "engine/small_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vesko_test {
namespace {

using vesko::engine::freeBlock;
using vesko::engine::refuseNewSlabs;
using vesko::engine::releaseBlocks;
using vesko::engine::resizeBlock;

void fill(void* block, std::size_t size, unsigned char seed) {
  auto* bytes = static_cast<unsigned char*>(block);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(seed + i);
}

bool holds(const void* block, std::size_t size, unsigned char seed) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (std::size_t i = 0; i < size; ++i)
    if (bytes[i] != static_cast<unsigned char>(seed + i)) return false;
  return true;
}

TEST(SmallBlocksTest, ContentsSurviveGrowingAndShrinkingAcrossEveryClassAndBeyond) {
  const std::size_t sizes[] = {1, 15, 16, 17, 100, 255, 256, 257, 1000, 5000};
  for (std::size_t from : sizes) {
    for (std::size_t to : sizes) {
      void* block = resizeBlock(nullptr, 0, from);
      ASSERT_NE(block, nullptr);
      fill(block, from, 7);
      void* resized = resizeBlock(block, from, to);
      ASSERT_NE(resized, nullptr);
      EXPECT_TRUE(holds(resized, std::min(from, to), 7)) << from << " -> " << to;
      fill(resized, to, 9);  // the whole new size is usable
      freeBlock(resized, to);
    }
  }
  releaseBlocks();
}

TEST(SmallBlocksTest, ASizeWithinItsClassKeepsItsPlace) {
  void* block = resizeBlock(nullptr, 0, 33);
  EXPECT_EQ(resizeBlock(block, 33, 48), block);
  EXPECT_EQ(resizeBlock(block, 48, 40), block);
  freeBlock(block, 40);
  releaseBlocks();
}

TEST(SmallBlocksTest, FreedBlocksAreReusedAndManyLiveAtOnceStayApart) {
  void* first = resizeBlock(nullptr, 0, 64);
  freeBlock(first, 64);
  EXPECT_EQ(resizeBlock(nullptr, 0, 64), first);
  freeBlock(first, 64);

  // More than one slab's worth, each block with its own contents.
  std::vector<void*> blocks;
  for (int i = 0; i < 5000; ++i) {
    const std::size_t size = 16 + (i % 15) * 16;
    void* block = resizeBlock(nullptr, 0, size);
    ASSERT_NE(block, nullptr);
    fill(block, size, static_cast<unsigned char>(i));
    blocks.push_back(block);
  }
  for (int i = 0; i < 5000; ++i) {
    const std::size_t size = 16 + (i % 15) * 16;
    EXPECT_TRUE(holds(blocks[i], size, static_cast<unsigned char>(i))) << i;
    freeBlock(blocks[i], size);
  }
  freeBlock(nullptr, 32);  // ignored
  releaseBlocks();
}

// A large block that shrinks while no small block can be had keeps its
// place.  However it leaves afterwards (freed, moved to another class,
// grown), it goes back to malloc, never onto a free list, where a later
// small block would be handed out of memory outside every slab (and
// releaseBlocks would never free it: the leak checkers see that).
class StrayBlockTest : public ::testing::Test {
 protected:
  void SetUp() override { releaseBlocks(); }
  void TearDown() override {
    refuseNewSlabs(false);
    releaseBlocks();
  }

  // A large block shrunk to `size` while no slab can be had.
  static void* stray(std::size_t largeSize, std::size_t size) {
    void* block = resizeBlock(nullptr, 0, largeSize);
    EXPECT_NE(block, nullptr);
    fill(block, largeSize, 3);
    refuseNewSlabs(true);
    void* shrunk = resizeBlock(block, largeSize, size);
    EXPECT_EQ(shrunk, block);  // never fails
    EXPECT_TRUE(holds(shrunk, size, 3));
    return shrunk;
  }
};

TEST_F(StrayBlockTest, AFreedStrayIsNotHandedOutAgain) {
  for (const std::size_t size : {1, 100, 240, 256}) {
    for (const std::size_t large : {257, 271, 272, 1000}) {
      void* block = stray(large, size);
      fill(block, size, 5);  // the whole new size is usable
      freeBlock(block, size);
      // The pool was empty and no slab can be had: nothing to hand out.
      EXPECT_EQ(resizeBlock(nullptr, 0, size), nullptr) << large << " -> " << size;
      refuseNewSlabs(false);
      releaseBlocks();
    }
  }
}

TEST_F(StrayBlockTest, AStrayResizedWithinTheSmallSizesStaysAStray) {
  void* block = stray(1000, 200);
  EXPECT_EQ(resizeBlock(block, 200, 190), block);  // same class: stays put
  EXPECT_EQ(resizeBlock(block, 190, 40), block);   // shrinks again, still no slab
  EXPECT_TRUE(holds(block, 40, 3));
  freeBlock(block, 40);
  EXPECT_EQ(resizeBlock(nullptr, 0, 40), nullptr);
  EXPECT_EQ(resizeBlock(nullptr, 0, 200), nullptr);
}

TEST_F(StrayBlockTest, AStrayMovedToAnotherClassLeavesNothingBehind) {
  void* block = stray(1000, 40);
  refuseNewSlabs(false);
  void* moved = resizeBlock(block, 40, 64);  // from a new slab
  ASSERT_NE(moved, nullptr);
  EXPECT_TRUE(holds(moved, 40, 3));
  refuseNewSlabs(true);
  // The stray's class (48 bytes) holds nothing freed: the stray went to
  // malloc, and the block comes from the slab's unused rest.
  void* other = resizeBlock(nullptr, 0, 48);
  EXPECT_NE(other, block);
  freeBlock(other, 48);
  freeBlock(moved, 64);
}

TEST_F(StrayBlockTest, AStrayGrownLargeLeavesNothingBehind) {
  void* block = stray(600, 100);
  void* grown = resizeBlock(block, 100, 5000);  // from malloc, slabs or not
  ASSERT_NE(grown, nullptr);
  EXPECT_TRUE(holds(grown, 100, 3));
  EXPECT_EQ(resizeBlock(nullptr, 0, 100), nullptr);
  freeBlock(grown, 5000);
}

TEST_F(StrayBlockTest, ManyStraysAtOnceEachGoBack) {
  std::vector<void*> strays;
  for (int i = 0; i < 50; ++i) {
    refuseNewSlabs(false);
    strays.push_back(stray(300 + static_cast<std::size_t>(i), 16));
  }
  // Freed in an order other than the list's.
  for (std::size_t i = 0; i < strays.size(); i += 2) freeBlock(strays[i], 16);
  for (std::size_t i = 1; i < strays.size(); i += 2) freeBlock(strays[i], 16);
  EXPECT_EQ(resizeBlock(nullptr, 0, 16), nullptr);
}

}  // namespace
}  // namespace vesko_test
