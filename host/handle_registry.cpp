// The handle registry and the instrument built on it: live object counts
// and misuse records.
#include <cinttypes>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "host/host_objects.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

struct Entry {
  ObjectKind kind;
  Ownership owner;
};

// Every object whose handle was handed out and that still exists.
std::unordered_map<const void*, Entry>& registry() {
  static auto* map = new std::unordered_map<const void*, Entry>();
  return *map;
}

// Addresses of plug-in objects the plug-in deleted, until the address is
// used again.  Bounded by the number of distinct addresses ever freed.
std::unordered_set<const void*>& deletedObjects() {
  static auto* set = new std::unordered_set<const void*>();
  return *set;
}

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
bool checkHandle(const void* handle, ObjectKind kind, const char* operation, Entry* entry) {
  if (handle == nullptr) {
    recordViolation(std::string(operation) + ": null " + objectKindName(kind) + " handle");
    return false;
  }
  auto found = registry().find(handle);
  if (found == registry().end()) {
    const bool deleted = deletedObjects().count(handle) > 0;
    recordViolation(std::string(operation) + ": " +
                    (deleted ? "use of a deleted " + std::string(objectKindName(kind))
                             : "unknown handle, not " + withArticle(kind)) +
                    " " + describeHandle(handle));
    return false;
  }
  if (found->second.kind != kind) {
    recordViolation(std::string(operation) + ": handle " + describeHandle(handle) + " is " +
                    withArticle(found->second.kind) + ", not " + withArticle(kind));
    return false;
  }
  *entry = found->second;
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
  registry().emplace(object, Entry{kind, owner});
  flag.value = true;
  if (owner == Ownership::plugin) ++liveCounts[static_cast<int>(kind)];
  if (!deletedObjects().empty()) deletedObjects().erase(object);
}

void forgetObject(const void* object) {
  auto found = registry().find(object);
  if (found == registry().end()) return;
  if (found->second.owner == Ownership::plugin) --liveCounts[static_cast<int>(found->second.kind)];
  registry().erase(found);
}

const void* lookUpObject(const void* handle, ObjectKind kind, const char* operation,
                         FMErrorRecord* e) {
  Entry entry{};
  if (checkHandle(handle, kind, operation, &entry)) return handle;
  setErrorCode(e, FM_ERROR_FAILURE);
  return nullptr;
}

bool mayDelete(const void* handle, ObjectKind kind, const char* operation, FMErrorRecord* e) {
  Entry entry{};
  if (!checkHandle(handle, kind, operation, &entry)) {
    setErrorCode(e, FM_ERROR_FAILURE);
    return false;
  }
  if (entry.owner != Ownership::plugin) {
    recordViolation(std::string(operation) + ": delete of " + withArticle(kind) + " " +
                    ownerPhrase(entry.owner) + " " + describeHandle(handle));
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
  // A plug-in that leaks nothing frees as many addresses as it reuses; this
  // only stops a pathological one from growing the set without end.
  if (deletedObjects().size() > 1000000) deletedObjects().clear();
  deletedObjects().insert(handle);
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
