// The registry's hash table: every key stays reachable through growth,
// shrinking and erasures in any order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "host/objects/address_table.h"

namespace vesko_test {
namespace {

using vesko_host::AddressRecord;
using vesko_host::AddressTable;

const void* address(uintptr_t n) {
  return reinterpret_cast<const void*>(n);
}

TEST(AddressTableTest, KeysStayReachableThroughRandomErasures) {
  // Keys close together and keys a large power of two apart: the two
  // patterns that pile up in one run of slots.
  std::vector<uintptr_t> keys;
  for (uintptr_t i = 1; i <= 3000; ++i) keys.push_back(0x10000 + i * 16);
  for (uintptr_t i = 1; i <= 3000; ++i) keys.push_back(i << 24);
  AddressTable table;
  for (uintptr_t key : keys)
    table.put(address(key), AddressRecord{static_cast<uint8_t>(key % 7), 1, false});
  ASSERT_EQ(table.size(), keys.size());

  std::mt19937 random(7);
  std::shuffle(keys.begin(), keys.end(), random);
  const std::size_t erased = keys.size() - 100;
  for (std::size_t i = 0; i < erased; ++i) {
    table.erase(address(keys[i]));
    if (i % 500 == 0) {
      for (std::size_t j = i + 1; j < keys.size(); ++j) {
        const AddressRecord* found = table.find(address(keys[j]));
        ASSERT_NE(found, nullptr) << "key " << keys[j] << " lost after " << i + 1 << " erasures";
        ASSERT_EQ(found->kind, keys[j] % 7);
      }
    }
  }
  EXPECT_EQ(table.size(), 100u);
  for (std::size_t i = 0; i < erased; ++i) EXPECT_EQ(table.find(address(keys[i])), nullptr);
  for (std::size_t i = erased; i < keys.size(); ++i)
    EXPECT_NE(table.find(address(keys[i])), nullptr);
}

TEST(AddressTableTest, PutReplacesAndEraseIfDropsMatches) {
  AddressTable table;
  table.put(address(64), AddressRecord{1, 0, false});
  table.put(address(64), AddressRecord{2, 0, true});
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.find(address(64))->kind, 2);
  table.put(address(128), AddressRecord{3, 0, false});
  table.reserve(5000);
  table.eraseIf([](const AddressRecord& record) { return record.deleted; });
  EXPECT_EQ(table.find(address(64)), nullptr);
  EXPECT_EQ(table.find(address(128))->kind, 3);
  table.erase(address(4096));  // absent: nothing happens
  EXPECT_EQ(table.size(), 1u);
}

}  // namespace
}  // namespace vesko_test
