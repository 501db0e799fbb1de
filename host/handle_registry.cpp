// The handle registry and the instrument built on it: live object counts
// and misuse records.
#include <cstdio>

#include "host/address_table.h"
#include "host/host_objects.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

// Every object whose handle was handed out and that still exists, and the
// addresses of plug-in objects the plug-in deleted (marked deleted) until
// the address is handed out again.
AddressTable& registry() {
  static auto* table = new AddressTable();
  return *table;
}
std::size_t deletedCount = 0;
// Set between noteDeleted and the destructor's forgetObject.
const void* beingDeleted = nullptr;

std::vector<std::string>& violations() {
  static auto* list = new std::vector<std::string>();
  return *list;
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

// Checks that `handle` is a registered object of `kind`; records the
// misuse otherwise.  `entry` receives the registry's entry.
bool checkHandle(const void* handle, ObjectKind kind, const char* operation, AddressRecord* entry) {
  if (handle == nullptr) {
    recordViolation(std::string(operation) + ": null " + objectKindName(kind) + " handle");
    return false;
  }
  const AddressRecord* found = registry().find(handle);
  if (found == nullptr || found->deleted) {
    const bool deleted = found != nullptr;
    recordViolation(std::string(operation) + ": " +
                    (deleted ? "use of a deleted " + std::string(objectKindName(kind))
                             : "unknown handle, not " + withArticle(kind)) +
                    " " + describeHandle(handle));
    return false;
  }
  if (found->kind != static_cast<uint8_t>(kind)) {
    recordViolation(std::string(operation) + ": handle " + describeHandle(handle) + " is " +
                    withArticle(static_cast<ObjectKind>(found->kind)) + ", not " +
                    withArticle(kind));
    return false;
  }
  *entry = *found;
  return true;
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
  if (flag.value) return;
  const AddressRecord* before = registry().find(object);
  if (before != nullptr && before->deleted) --deletedCount;
  registry().put(object,
                 AddressRecord{static_cast<uint8_t>(kind), static_cast<uint8_t>(owner), false});
  flag.value = true;
  if (owner == Ownership::plugin) ++liveCounts[static_cast<int>(kind)];
}

void reserveHandles(std::size_t count) {
  registry().reserve(count);
}

void forgetObject(const void* object) {
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
                         FMErrorRecord* e) {
  AddressRecord entry{};
  if (checkHandle(handle, kind, operation, &entry)) return handle;
  setErrorCode(e, FM_ERROR_FAILURE);
  return nullptr;
}

bool mayDelete(const void* handle, ObjectKind kind, const char* operation, FMErrorRecord* e) {
  AddressRecord entry{};
  if (!checkHandle(handle, kind, operation, &entry)) {
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
  beingDeleted = handle;
}

void recordViolation(std::string message) {
  std::fprintf(stderr, "vesko host: %s\n", message.c_str());
  violations().push_back(std::move(message));
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

std::vector<std::string> takeViolations() {
  std::vector<std::string> taken;
  taken.swap(violations());
  return taken;
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
FMRowVect::~FMRowVect() {
  if (registered.value) vesko_host::forgetObject(this);
}
FMExprEnv::~FMExprEnv() {
  if (registered.value) vesko_host::forgetObject(this);
}
