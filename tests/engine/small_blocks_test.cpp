// The interpreter's pool of small blocks: contents survive every resize,
// shrinking never fails, and blocks are reused.
#include "engine/small_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vesko_test {
namespace {

using vesko::engine::freeBlock;
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

}  // namespace
}  // namespace vesko_test
