// The host's objects behind the opaque handles of fm_api.h, and the handle
// registry that every FM_ operation consults before it touches an object.
//
// A handle is valid exactly while its address is in the registry.  An
// object enters the registry when its handle is first handed out (by a
// constructor, or by an accessor that lends it) and leaves it when the
// object is destroyed, so an operation never has to read memory behind a
// handle to find out whether the handle is good.
//
// The rows and cell texts of a query result are lent as views: their
// handles are addresses inside the row vector's compact store, which
// enters the registry a chunk at a time as ranges (row_store.h).
#ifndef VESKO_HOST_HOST_OBJECTS_H
#define VESKO_HOST_HOST_OBJECTS_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "api/fm_api.h"
#include "host/instrument/instrument.h"

namespace vesko_host {

enum class ObjectKind : uint8_t {
  text,
  data,
  dataVect,
  rowVect,
  exprEnv,
  fixPt,
  dateTime,
  locale,
  quadChar
};
constexpr int kObjectKindCount = 9;
const char* objectKindName(ObjectKind kind);

// Who may delete an object.  Only plugin objects (made by FM_..._Constructor)
// may be deleted by the plug-in, and only they are counted as live.
enum class Ownership : uint8_t {
  plugin,
  host,      // made by the host for itself: parameters, results, environments
  borrowed,  // lent by an accessor; lives as long as the object that lends it
};

// True while the object's address is in the registry.  A copy is a new
// object with a new address, so the flag is never copied.
struct RegisteredFlag {
  bool value = false;
  RegisteredFlag() = default;
  RegisteredFlag(const RegisteredFlag&) {}
  RegisteredFlag& operator=(const RegisteredFlag&) { return *this; }
};

}  // namespace vesko_host

struct FMText {
  std::u16string units;
  vesko_host::RegisteredFlag registered;
  ~FMText();
};

struct FMFixPt {
  double value = 0;
  int32_t precision = 16;  // digits after the decimal point in the text form
  vesko_host::RegisteredFlag registered;
  ~FMFixPt();
};

struct FMDateTime {
  double seconds = 0;  // since 0001-01-01 00:00:00
  vesko_host::RegisteredFlag registered;
  ~FMDateTime();
};

struct FMLocale {
  int32_t kind = 1;
  vesko_host::RegisteredFlag registered;
  ~FMLocale();
};

struct FMQuadChar {
  char chars[4] = {0, 0, 0, 0};
  vesko_host::RegisteredFlag registered;
  ~FMQuadChar();
};

// One value.  `kind` comes first so that the embedded text never shares the
// data's address: both may be registered handles at the same time.
struct FMData {
  int32_t kind = FM_KIND_INVALID;
  int32_t precision = 16;  // number: digits after the point in its text form
  double number = 0;       // number and boolean: the value; date, time, timestamp: seconds
  // Kind 1: the value.  Other kinds: the text form, once it was asked for
  // (textIsCurrent), since GetAsText lends this very object.
  FMText text;
  bool textIsCurrent = true;
  // Lent by FM_DataVect_AtAsNumber and AtAsTimeStamp; made on first use.
  std::unique_ptr<FMFixPt> numberView;
  std::unique_ptr<FMDateTime> dateTimeView;
  vesko_host::RegisteredFlag registered;
  ~FMData();
};

// A deque, so that growing it never moves the items it has lent.
struct FMDataVect {
  std::deque<FMData> items;
  vesko_host::RegisteredFlag registered;
  ~FMDataVect();
};

struct FMExprEnv {
  int32_t kind = 0;
  uint64_t calculation = 0;  // the running calculation it belongs to; 0 for none
  vesko_host::RegisteredFlag registered;
  ~FMExprEnv();
};

namespace vesko_host {

inline ObjectKind kindOf(const FMText*) {
  return ObjectKind::text;
}
inline ObjectKind kindOf(const FMData*) {
  return ObjectKind::data;
}
inline ObjectKind kindOf(const FMDataVect*) {
  return ObjectKind::dataVect;
}
inline ObjectKind kindOf(const FMRowVect*) {
  return ObjectKind::rowVect;
}
inline ObjectKind kindOf(const FMExprEnv*) {
  return ObjectKind::exprEnv;
}
inline ObjectKind kindOf(const FMFixPt*) {
  return ObjectKind::fixPt;
}
inline ObjectKind kindOf(const FMDateTime*) {
  return ObjectKind::dateTime;
}
inline ObjectKind kindOf(const FMLocale*) {
  return ObjectKind::locale;
}
inline ObjectKind kindOf(const FMQuadChar*) {
  return ObjectKind::quadChar;
}

// Puts the object's address in the registry unless it is there already,
// and answers the object, ready to be handed out.
void registerObject(const void* object, ObjectKind kind, Ownership owner, RegisteredFlag& flag);
template <typename T>
T* handOut(T* object, Ownership owner) {
  registerObject(object, kindOf(object), owner, object->registered);
  return object;
}
// Enters the `count` views of `kind` at `first`, `stride` bytes apart, in
// the registry as borrowed objects until forgetRange(first).  The view at
// first + i * stride is item firstIndex + i of `owner`, and lent once
// `owner` holds more than firstIndex + i items, as *`items` tells.  The
// stride is a power of two, so that telling a view from an address inside
// one costs no division.
void registerRange(const void* first, std::size_t count, std::size_t stride, ObjectKind kind,
                   void* owner, std::size_t firstIndex, const std::size_t* items);
void forgetRange(const void* first);
// Called by the destructors of registered objects.
void forgetObject(const void* object);

// What a view's handle names; owner is nullptr for any other handle.
struct LentView {
  void* owner = nullptr;
  std::size_t index = 0;
};

// Handles of objects (not views) lately found good, by kind and a few
// bits of the address.  A handle found here is good without a registry
// probe: an address leaves this cache when its object leaves the registry
// or is marked deleted (forgetObject, noteDeleted).  Slots are written under
// the registry's lock and read without it, hence atomic (plain moves on
// x86-64).
inline constexpr std::size_t kRecentHandleSlots = 64;
extern std::atomic<const void*> recentHandles[kObjectKindCount][kRecentHandleSlots];
inline std::atomic<const void*>& recentHandle(const void* handle, ObjectKind kind) {
  const auto address = reinterpret_cast<uintptr_t>(handle);
  return recentHandles[static_cast<int>(kind)][(address >> 4) % kRecentHandleSlots];
}
inline bool isRecentHandle(const void* handle, ObjectKind kind) {
  return handle != nullptr && recentHandle(handle, kind).load(std::memory_order_relaxed) == handle;
}

// Answers the object behind a handle passed to `operation`, or nullptr after
// recording the misuse and setting the error record's code to 2.  The
// handle of a view is answered as it is and must not be read through:
// `view` receives what it names.
const void* lookUpObject(const void* handle, ObjectKind kind, const char* operation,
                         FMErrorRecord* e, LentView* view = nullptr);
template <typename T>
T* useHandle(const T* handle, const char* operation, FMErrorRecord* e) {
  if (isRecentHandle(handle, kindOf(handle))) return const_cast<T*>(handle);
  return const_cast<T*>(static_cast<const T*>(lookUpObject(handle, kindOf(handle), operation, e)));
}
// Texts and data vectors may be views: for one of those these answer an
// object that stands for the view from then on (row_store.cpp).
FMText* useHandle(const FMText* handle, const char* operation, FMErrorRecord* e);
FMDataVect* useHandle(const FMDataVect* handle, const char* operation, FMErrorRecord* e);

// For FM_..._Delete: answers true when the plug-in may delete the object
// (it made it and has not deleted it yet); otherwise records the misuse.
bool mayDelete(const void* handle, ObjectKind kind, const char* operation, FMErrorRecord* e);
// Called right before the plug-in's delete of `handle`: the registry then
// keeps the address, marked deleted, so that a second delete or a later use
// is told apart from a handle the host never made.
void noteDeleted(const void* handle);

// For a pointer an operation needs that is not a handle (a string, a
// buffer, a handler): false after recording "operation: null what" and
// setting the error record's code to 2.
bool checkPointer(const void* pointer, const char* what, const char* operation, FMErrorRecord* e);

// Runs the body of an FM_ operation: no exception leaves it.  Out of
// memory becomes code 1, any other exception code 2; both answer `neutral`.
template <typename Result, typename Body>
Result guarded(FMErrorRecord* e, Result neutral, Body&& body) noexcept {
  if (!beginOperation(e)) return neutral;
  try {
    return body();
  } catch (const std::bad_alloc&) {
    setErrorCode(e, FM_ERROR_BAD_ALLOC);
  } catch (...) {
    setErrorCode(e, FM_ERROR_FAILURE);
  }
  return neutral;
}
// Runs the body of an FM_..._Delete, which injected faults pass over.
template <typename Body>
void guardedDelete(FMErrorRecord* e, Body&& body) noexcept {
  beginDelete();
  try {
    body();
  } catch (...) {
    setErrorCode(e, FM_ERROR_FAILURE);
  }
}

template <typename Body>
void guardedVoid(FMErrorRecord* e, Body&& body) noexcept {
  guarded(e, 0, [&] {
    body();
    return 0;
  });
}

}  // namespace vesko_host

#endif
