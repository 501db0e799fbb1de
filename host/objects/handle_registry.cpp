// The handle registry and the live object counts kept with it; the misuse
// it finds goes to the instrument (host/instrument/).
#include <algorithm>
#include <bit>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "host/objects/address_table.h"
#include "host/objects/host_objects.h"
#include "host/substitute_host.h"

namespace vesko_host {

std::atomic<const void*> recentHandles[kObjectKindCount][kRecentHandleSlots];

namespace {

// Takes `address` out of the cache of good handles, whatever its kind.
void forgetRecent(const void* address) {
  for (int kind = 0; kind < kObjectKindCount; ++kind) {
    std::atomic<const void*>& slot = recentHandle(address, static_cast<ObjectKind>(kind));
    if (slot.load(std::memory_order_relaxed) == address)
      slot.store(nullptr, std::memory_order_relaxed);
  }
}

// Every object whose handle was handed out and that still exists, and the
// addresses of plug-in objects the plug-in deleted (marked deleted) until
// the address is handed out again.
AddressTable& registry() {
  static auto* table = new AddressTable();
  return *table;
}
std::size_t deletedCount = 0;
// Set between noteDeleted and the destructor's forgetObject, on the thread
// that deletes.
thread_local const void* beingDeleted = nullptr;

// Everything above and below is shared by the threads of a host that calls
// the plug-in from more than one; each public function holds this lock.
// Recursive: a check may record a violation.
std::recursive_mutex& registryLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
using Hold = std::lock_guard<std::recursive_mutex>;

// The chunks of views lent by row vectors, sorted by address.  They never
// overlap, and they come before the table, which may still hold deleted
// marks of objects that were once at their addresses.
struct LentRange {
  uintptr_t first = 0;
  uintptr_t end = 0;  // one past the last view
  int shift = 0;      // the stride is 1 << shift
  ObjectKind kind = ObjectKind::text;
  void* owner = nullptr;
  std::size_t firstIndex = 0;
  const std::size_t* items = nullptr;  // views at and past this index are not lent yet
};
std::vector<LentRange>& lentRanges() {
  static auto* list = new std::vector<LentRange>();
  return *list;
}
// The range a handle of each kind was last found in: a plug-in reading a
// result asks for one row and cell after another.
LentRange recentRanges[kObjectKindCount];

// The range `address` lies in, if any.
const LentRange* rangeOf(uintptr_t address) {
  const std::vector<LentRange>& list = lentRanges();
  const auto after =
      std::upper_bound(list.begin(), list.end(), address,
                       [](uintptr_t a, const LentRange& range) { return a < range.first; });
  if (after == list.begin() || address >= std::prev(after)->end) return nullptr;
  return &*std::prev(after);
}

std::size_t liveCounts[kObjectKindCount];

std::string describeHandle(const void* handle) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", handle);
  return buffer;
}

// "a text", "an environment".
std::string withArticle(ObjectKind kind) {
  const std::string name = objectKindName(kind);
  return (name[0] == 'e' ? "an " : "a ") + name;
}

const char* ownerPhrase(Ownership owner) {
  return owner == Ownership::host ? "owned by the host" : "borrowed from another object";
}

// The registry's entry for `handle`, if it has one; for a view, `view`
// receives what it names.  A live object is never inside a range, but a
// deleted mark in the table may be: the ranges are asked before a mark
// counts.
bool entryOf(const void* handle, ObjectKind kind, AddressRecord* entry, LentView* view) {
  const auto address = reinterpret_cast<uintptr_t>(handle);
  LentRange& recent = recentRanges[static_cast<int>(kind)];
  const LentRange* range = address >= recent.first && address < recent.end ? &recent : nullptr;
  if (range == nullptr) {
    const AddressRecord* found = registry().find(handle);
    if (found != nullptr && !found->deleted) {
      *entry = *found;
      return true;
    }
    range = rangeOf(address);
    if (range == nullptr) {
      if (found != nullptr) *entry = *found;
      return found != nullptr;
    }
    recent = *range;
  }
  const uintptr_t offset = address - range->first;
  const std::size_t index = range->firstIndex + (offset >> range->shift);
  if ((offset & ((uintptr_t{1} << range->shift) - 1)) != 0 || index >= *range->items) return false;
  entry->kind = static_cast<uint8_t>(range->kind);
  entry->owner = static_cast<uint8_t>(Ownership::borrowed);
  entry->deleted = false;
  view->owner = range->owner;
  view->index = index;
  return true;
}

// Records why `handle` is no good `kind`; `entry` is its entry, if `known`.
[[gnu::noinline]] void reportBadHandle(const void* handle, ObjectKind kind, const char* operation,
                                       bool known, const AddressRecord& entry) {
  if (handle == nullptr) {
    recordViolation(std::string(operation) + ": null " + objectKindName(kind) + " handle");
  } else if (!known || entry.deleted) {
    recordViolation(std::string(operation) + ": " +
                    (known ? "use of a deleted " + std::string(objectKindName(kind))
                           : "unknown handle, not " + withArticle(kind)) +
                    " " + describeHandle(handle));
  } else {
    recordViolation(std::string(operation) + ": handle " + describeHandle(handle) + " is " +
                    withArticle(static_cast<ObjectKind>(entry.kind)) + ", not " +
                    withArticle(kind));
  }
}

// Checks that `handle` is a registered object of `kind`; records the
// misuse otherwise.  `entry` receives the registry's entry, `view` what a
// view names.
bool checkHandle(const void* handle, ObjectKind kind, const char* operation, AddressRecord* entry,
                 LentView* view) {
  const bool known = handle != nullptr && entryOf(handle, kind, entry, view);
  if (known && !entry->deleted && entry->kind == static_cast<uint8_t>(kind)) return true;
  reportBadHandle(handle, kind, operation, known, *entry);
  return false;
}

}  // namespace

const char* objectKindName(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::text:
      return "text";
    case ObjectKind::data:
      return "data";
    case ObjectKind::dataVect:
      return "data vector";
    case ObjectKind::rowVect:
      return "row vector";
    case ObjectKind::exprEnv:
      return "environment";
    case ObjectKind::fixPt:
      return "number";
    case ObjectKind::dateTime:
      return "date-time";
    case ObjectKind::locale:
      return "locale";
    case ObjectKind::quadChar:
      return "plug-in identifier";
  }
  return "object";
}

void registerObject(const void* object, ObjectKind kind, Ownership owner, RegisteredFlag& flag) {
  const Hold hold(registryLock());
  if (flag.value) return;
  const AddressRecord* before = registry().find(object);
  if (before != nullptr && before->deleted) --deletedCount;
  registry().put(object,
                 AddressRecord{static_cast<uint8_t>(kind), static_cast<uint8_t>(owner), false});
  flag.value = true;
  if (owner == Ownership::plugin) ++liveCounts[static_cast<int>(kind)];
}

void registerRange(const void* first, std::size_t count, std::size_t stride, ObjectKind kind,
                   void* owner, std::size_t firstIndex, const std::size_t* items) {
  const Hold hold(registryLock());
  if (stride == 0 || (stride & (stride - 1)) != 0)
    throw std::logic_error("registerRange: the stride must be a power of two");
  const auto begin = reinterpret_cast<uintptr_t>(first);
  const LentRange range{
      begin, begin + count * stride, std::countr_zero(stride), kind, owner, firstIndex, items};
  std::vector<LentRange>& list = lentRanges();
  list.insert(std::upper_bound(list.begin(), list.end(), begin,
                               [](uintptr_t a, const LentRange& r) { return a < r.first; }),
              range);
}

void forgetRange(const void* first) {
  const Hold hold(registryLock());
  const auto begin = reinterpret_cast<uintptr_t>(first);
  std::vector<LentRange>& list = lentRanges();
  std::erase_if(list, [&](const LentRange& range) { return range.first == begin; });
  for (LentRange& recent : recentRanges)
    if (recent.first == begin) recent = LentRange{};
}

void forgetObject(const void* object) {
  const Hold hold(registryLock());
  forgetRecent(object);
  AddressRecord* found = registry().find(object);
  if (found == nullptr || found->deleted) return;
  if (found->owner == static_cast<uint8_t>(Ownership::plugin)) --liveCounts[found->kind];
  if (object != beingDeleted) {
    registry().erase(object);
    return;
  }
  found->deleted = true;
  beingDeleted = nullptr;
  // A plug-in that leaks nothing frees as many addresses as it reuses; this
  // only keeps a pathological one from growing the table without end.
  if (++deletedCount > 1000000) {
    registry().eraseIf([](const AddressRecord& record) { return record.deleted; });
    deletedCount = 0;
  }
}

const void* lookUpObject(const void* handle, ObjectKind kind, const char* operation,
                         FMErrorRecord* e, LentView* view) {
  const Hold hold(registryLock());
  AddressRecord entry{};
  LentView named;
  if (checkHandle(handle, kind, operation, &entry, view != nullptr ? view : &named)) {
    // A view's handle is no object: only callers that ask for views get one.
    const bool object = (view != nullptr ? view->owner : named.owner) == nullptr;
    if (object) recentHandle(handle, kind).store(handle, std::memory_order_relaxed);
    if (view != nullptr || object) return handle;
    recordViolation(std::string(operation) + ": a view where an object is needed " +
                    describeHandle(handle));
  }
  setErrorCode(e, FM_ERROR_FAILURE);
  return nullptr;
}

bool mayDelete(const void* handle, ObjectKind kind, const char* operation, FMErrorRecord* e) {
  const Hold hold(registryLock());
  AddressRecord entry{};
  LentView view;
  if (!checkHandle(handle, kind, operation, &entry, &view)) {
    setErrorCode(e, FM_ERROR_FAILURE);
    return false;
  }
  if (entry.owner != static_cast<uint8_t>(Ownership::plugin)) {
    recordViolation(std::string(operation) + ": delete of " + withArticle(kind) + " " +
                    ownerPhrase(static_cast<Ownership>(entry.owner)) + " " +
                    describeHandle(handle));
    setErrorCode(e, FM_ERROR_FAILURE);
    return false;
  }
  return true;
}

bool checkPointer(const void* pointer, const char* what, const char* operation, FMErrorRecord* e) {
  if (pointer != nullptr) return true;
  recordViolation(std::string(operation) + ": null " + what);
  setErrorCode(e, FM_ERROR_FAILURE);
  return false;
}

void noteDeleted(const void* handle) {
  forgetRecent(handle);
  beingDeleted = handle;
}

// --- The instrument's public face --------------------------------------------

std::size_t LiveObjects::total() const {
  return text + data + dataVect + rowVect + exprEnv + fixPt + dateTime + locale + quadChar;
}

std::string LiveObjects::describe() const {
  const std::pair<const char*, std::size_t> counts[] = {
      {"text", text},          {"data", data},           {"data vector", dataVect},
      {"row vector", rowVect}, {"environment", exprEnv}, {"number", fixPt},
      {"date-time", dateTime}, {"locale", locale},       {"plug-in identifier", quadChar}};
  std::string out;
  for (const auto& [name, count] : counts) {
    if (count == 0) continue;
    if (!out.empty()) out += ", ";
    out += std::string(name) + " " + std::to_string(count);
  }
  return out.empty() ? "none" : out;
}

LiveObjects livePluginObjects() {
  const Hold hold(registryLock());
  auto count = [](ObjectKind kind) { return liveCounts[static_cast<int>(kind)]; };
  LiveObjects live;
  live.text = count(ObjectKind::text);
  live.data = count(ObjectKind::data);
  live.dataVect = count(ObjectKind::dataVect);
  live.rowVect = count(ObjectKind::rowVect);
  live.exprEnv = count(ObjectKind::exprEnv);
  live.fixPt = count(ObjectKind::fixPt);
  live.dateTime = count(ObjectKind::dateTime);
  live.locale = count(ObjectKind::locale);
  live.quadChar = count(ObjectKind::quadChar);
  return live;
}

}  // namespace vesko_host

// The destructors of the handle objects take them out of the registry.
FMText::~FMText() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMFixPt::~FMFixPt() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMDateTime::~FMDateTime() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMLocale::~FMLocale() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMQuadChar::~FMQuadChar() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMData::~FMData() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMDataVect::~FMDataVect() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMExprEnv::~FMExprEnv() {
  if (registered.value) vesko_host::forgetObject(this);
}
