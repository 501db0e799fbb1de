// A hash table from object addresses to a small record, with open
// addressing: one flat array, no allocation per entry.  The handle registry
// is consulted on every host operation, and a plug-in may hold a great many
// objects, so it must stay cheap at a million entries.
#ifndef VESKO_HOST_ADDRESS_TABLE_H
#define VESKO_HOST_ADDRESS_TABLE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesko_host {

// What the registry keeps per address.
struct AddressRecord {
  uint8_t kind;
  uint8_t owner;
  bool deleted;  // the plug-in deleted the object; kept to name a second use
};

class AddressTable {
 public:
  // The record of `address`, or nullptr.  Valid until the next insert or erase.
  AddressRecord* find(const void* address);
  // Adds or replaces the record of `address`.
  void put(const void* address, AddressRecord record);
  void erase(const void* address);
  // Makes room for `more` records beyond those held, at once.
  void reserve(std::size_t more);
  std::size_t size() const { return count_; }
  // Erases every record for which `drop` answers true.
  template <typename Drop>
  void eraseIf(Drop drop) {
    std::vector<Slot> old;
    old.swap(slots_);
    count_ = 0;
    rehash(old.size());
    for (const Slot& slot : old)
      if (slot.key != nullptr && !drop(slot.record)) put(slot.key, slot.record);
  }

 private:
  struct Slot {
    const void* key = nullptr;  // nullptr: empty
    AddressRecord record{};
  };
  std::size_t home(const void* address) const;
  void rehash(std::size_t capacity);

  // Linear probing; the load stays at or below one half, and erasing shifts
  // later entries back, so every key is reachable from its home slot
  // without crossing an empty slot.
  std::vector<Slot> slots_;  // a power of two in size
  std::size_t count_ = 0;
  int shift_ = 64;  // 64 less the bits of a slot index
};

}  // namespace vesko_host

#endif
