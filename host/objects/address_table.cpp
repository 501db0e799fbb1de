// Open addressing with linear probing and backward-shift deletion.
#include "host/objects/address_table.h"

namespace vesko_host {

std::size_t AddressTable::home(const void* address) const {
  // Fibonacci hashing of the whole address.  Objects made one after another
  // sit at neighbouring addresses; kept in neighbouring slots they would
  // form long runs that every probe through them walks, so the address is
  // spread over the table instead.  Objects are at least 8-byte aligned:
  // the low bits carry nothing.
  const auto granule = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address)) >> 3;
  return static_cast<std::size_t>((granule * 0x9E3779B97F4A7C15ull) >> shift_);
}

AddressRecord* AddressTable::find(const void* address) {
  if (count_ == 0) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = home(address);; i = (i + 1) & mask) {
    if (slots_[i].key == address) return &slots_[i].record;
    if (slots_[i].key == nullptr) return nullptr;
  }
}

void AddressTable::put(const void* address, AddressRecord record) {
  if ((count_ + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 1024 : slots_.size() * 2);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = home(address);; i = (i + 1) & mask) {
    if (slots_[i].key == address) {
      slots_[i].record = record;
      return;
    }
    if (slots_[i].key == nullptr) {
      slots_[i] = Slot{address, record};
      ++count_;
      return;
    }
  }
}

void AddressTable::erase(const void* address) {
  if (count_ == 0) return;
  const std::size_t mask = slots_.size() - 1;
  std::size_t hole = home(address);
  while (slots_[hole].key != address) {
    if (slots_[hole].key == nullptr) return;
    hole = (hole + 1) & mask;
  }
  // Moves back each later entry of the run whose home is not between the
  // hole and itself, so that no probe meets the hole before its key.
  for (std::size_t next = (hole + 1) & mask; slots_[next].key != nullptr;
       next = (next + 1) & mask) {
    const std::size_t wanted = home(slots_[next].key);
    const bool staysPut =
        hole < next ? (wanted > hole && wanted <= next) : (wanted > hole || wanted <= next);
    if (!staysPut) {
      slots_[hole] = slots_[next];
      hole = next;
    }
  }
  slots_[hole] = Slot{};
  --count_;
  if (slots_.size() > 4096 && count_ * 16 < slots_.size()) rehash(slots_.size() / 4);
}

void AddressTable::reserve(std::size_t more) {
  std::size_t capacity = slots_.empty() ? 1024 : slots_.size();
  while ((count_ + more) * 2 > capacity) capacity *= 2;
  if (capacity > slots_.size()) rehash(capacity);
}

void AddressTable::rehash(std::size_t capacity) {
  std::vector<Slot> old(capacity);
  old.swap(slots_);
  shift_ = 64;
  for (std::size_t size = capacity; size > 1; size >>= 1) --shift_;
  count_ = 0;
  for (const Slot& slot : old)
    if (slot.key != nullptr) put(slot.key, slot.record);
}

}  // namespace vesko_host
