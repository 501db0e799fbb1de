// The host operations as the rest of the plug-in sees them.  This header and
// its .cpp are the only plug-in code that touches the host's C interface.
//
// Every function here raises BadAllocation when the host reports it ran out
// of memory and HostFailure for any other failure the host reports; nothing
// is returned in that case.  Handles passed in are never deleted here.
#ifndef VESKO_PLUGIN_HOST_INTERFACE_H
#define VESKO_PLUGIN_HOST_INTERFACE_H

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "api/fm_api.h"

namespace host {

class BadAllocation : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "bad allocation"; }
};

class HostFailure : public std::runtime_error {
 public:
  HostFailure() : std::runtime_error("host operation failed") {}
};

enum Encoding : int32_t {
  kNative = FM_ENCODING_NATIVE,
  kUtf8 = FM_ENCODING_UTF8,
  kIsoLatin1 = FM_ENCODING_ISO_8859_1
};

// Deleters; they never raise (a failure to delete is ignored).
void deleteObject(FMText* h) noexcept;
void deleteObject(FMData* h) noexcept;
void deleteObject(FMDataVect* h) noexcept;
void deleteObject(FMRowVect* h) noexcept;
void deleteObject(FMExprEnv* h) noexcept;
void deleteObject(FMFixPt* h) noexcept;
void deleteObject(FMDateTime* h) noexcept;
void deleteObject(FMLocale* h) noexcept;
void deleteObject(FMQuadChar* h) noexcept;

// An object the plug-in constructed: deleted exactly once, when its owner
// goes out of scope or is given another handle.
template <class T>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T* handle) : handle_(handle) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  T* get() const { return handle_; }
  // Gives up ownership: the caller deletes the handle.
  T* release() noexcept { return std::exchange(handle_, nullptr); }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(T* handle = nullptr) noexcept {
    if (handle_ != nullptr) deleteObject(handle_);
    handle_ = handle;
  }

 private:
  T* handle_ = nullptr;
};

using Text = Owned<FMText>;
using Data = Owned<FMData>;
using DataVect = Owned<FMDataVect>;
using RowVect = Owned<FMRowVect>;
using ExprEnv = Owned<FMExprEnv>;
using FixPt = Owned<FMFixPt>;
using DateTime = Owned<FMDateTime>;
using Locale = Owned<FMLocale>;
using QuadChar = Owned<FMQuadChar>;

// --- Construction ---------------------------------------------------------
Text newText();
Data newData();
DataVect newDataVect();
RowVect newRowVect();
ExprEnv newExprEnv();
FixPt newFixPt(int32_t value = 0, int32_t precision = 16);
DateTime newDateTime();
Locale newLocale(int32_t kind = 1);
QuadChar newQuadChar(const char (&id)[5]);

// --- Text -----------------------------------------------------------------
void textAssign(FMText* t, const char* nulEnded, Encoding encoding);
void textAssign(FMText* t, std::string_view bytes, Encoding encoding);
void textAssignUnicode(FMText* t, const char16_t* nulEnded);
void textSet(FMText* t, const FMText* source, uint32_t position = 0,
             uint32_t size = FM_TEXT_TO_END);
void textAppend(FMText* t, const FMText* source, uint32_t position = 0,
                uint32_t size = FM_TEXT_TO_END);
void textInsert(FMText* t, const FMText* source, uint32_t position);
void textDelete(FMText* t, uint32_t position, uint32_t count);
uint32_t textFind(const FMText* t, const FMText* pattern, uint32_t start);
uint32_t textSize(const FMText* t);
void textGetBytes(const FMText* t, char* buffer, uint32_t capacity, Encoding encoding,
                  uint32_t position = 0, uint32_t size = FM_TEXT_TO_END);
bool textEqual(const FMText* a, const FMText* b);

// --- Numbers and date-times ------------------------------------------------
void fixPtAssignInt(FMFixPt* n, int32_t value);
void fixPtAssignDouble(FMFixPt* n, double value);
void fixPtSetPrecision(FMFixPt* n, int32_t precision);
int32_t fixPtAsLong(const FMFixPt* n);
double fixPtAsFloat(const FMFixPt* n);
void dateTimeSeconds(const FMDateTime* d, FMFixPt* seconds);
void dateTimeSetSeconds(FMDateTime* d, const FMFixPt* seconds);

// --- Data values and vectors -------------------------------------------------
const FMText* dataAsText(const FMData* d);
const FMLocale* dataLocale(const FMData* d);
int32_t dataKind(const FMData* d);
int16_t dataSetText(FMData* d, const FMText* text, const FMLocale* locale,
                    int32_t kind = FM_KIND_TEXT);
void dataSetNumber(FMData* d, const FMFixPt* number, int32_t kind = FM_KIND_NUMBER);
void dataSetTimeStamp(FMData* d, const FMDateTime* when, int32_t kind = FM_KIND_TIMESTAMP);

uint32_t vectSize(const FMDataVect* v);
const FMData* vectAt(const FMDataVect* v, uint32_t index);
const FMText* vectAtAsText(const FMDataVect* v, uint32_t index);
const FMFixPt* vectAtAsNumber(const FMDataVect* v, uint32_t index);
const FMDateTime* vectAtAsTimeStamp(const FMDataVect* v, uint32_t index);
// Appends a copy of `d`.
void vectPushBack(FMDataVect* v, const FMData* d);

uint32_t rowsSize(const FMRowVect* rows);
bool rowsEmpty(const FMRowVect* rows);
const FMDataVect* rowsAt(const FMRowVect* rows, uint32_t row);

// --- Calculation environment ----------------------------------------------
int16_t evaluate(const FMExprEnv* env, const FMText* expression, FMData* result);
int16_t executeFileSql(const FMExprEnv* env, const FMText* query, const FMText* fileName,
                       const FMDataVect* parameters, FMRowVect* result);
int16_t registerFunction(const FMQuadChar* pluginId, int16_t functionId, const FMText* name,
                         const FMText* prototype, int16_t minParameters, int16_t maxParameters,
                         uint32_t flags, FMExternalFunction handler);
int16_t unregisterFunction(const FMQuadChar* pluginId, int16_t functionId);

// The record of the host's latest entry call, kept for the life of the
// loaded library; every call of the entry point sets it.
void setCallRecord(FMCallRecord* record) noexcept;

// The plug-in library's own handle, for its string table; null before the
// host's first entry call.
void* pluginInstance() noexcept;

// Fills `env` with the calculation environment now current in the host,
// when the host offers that; else leaves it as it is.
void currentEnvironment(FMExprEnv* env);

}  // namespace host

#endif
