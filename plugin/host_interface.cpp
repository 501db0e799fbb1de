// Each wrapper makes one host call with a fresh error record and turns the
// code the host leaves there into an exception: 1 is "bad allocation", 2 a
// generic failure, anything else success.
#include "plugin/host_interface.h"

#include <type_traits>

namespace host {

namespace {

void check(const FMErrorRecord& e) {
  if (e.code == FM_ERROR_BAD_ALLOC) throw BadAllocation();
  if (e.code == FM_ERROR_FAILURE) throw HostFailure();
}

template <class Operation>
auto call(Operation&& operation) {
  FMErrorRecord e{1, 0};
  if constexpr (std::is_void_v<decltype(operation(&e))>) {
    operation(&e);
    check(e);
  } else {
    auto answer = operation(&e);
    check(e);
    return answer;
  }
}

// Takes ownership of what the host answers before looking at the error
// record, so that an object answered together with a failure is still
// deleted.  A host that reports success but answers no object is out of
// memory.
template <class T, class Operation>
Owned<T> construct(Operation&& operation) {
  FMErrorRecord e{1, 0};
  Owned<T> owned(operation(&e));
  check(e);
  if (!owned) throw BadAllocation();
  return owned;
}

}  // namespace

#define VESKO_DELETER(Type, Operation)  \
  void deleteObject(Type* h) noexcept { \
    FMErrorRecord e{1, 0};              \
    Operation(h, &e);                   \
  }
VESKO_DELETER(FMText, FM_Text_Delete)
VESKO_DELETER(FMData, FM_Data_Delete)
VESKO_DELETER(FMDataVect, FM_DataVect_Delete)
VESKO_DELETER(FMRowVect, FM_RowVect_Delete)
VESKO_DELETER(FMExprEnv, FM_ExprEnv_Delete)
VESKO_DELETER(FMFixPt, FM_FixPt_Delete)
VESKO_DELETER(FMDateTime, FM_DateTime_Delete)
VESKO_DELETER(FMLocale, FM_Locale_Delete)
VESKO_DELETER(FMQuadChar, FM_QuadChar_Delete)
#undef VESKO_DELETER

Text newText() {
  return construct<FMText>([](FMErrorRecord* e) { return FM_Text_Constructor1(e); });
}
Data newData() {
  return construct<FMData>([](FMErrorRecord* e) { return FM_Data_Constructor1(e); });
}
DataVect newDataVect() {
  return construct<FMDataVect>([](FMErrorRecord* e) { return FM_DataVect_Constructor1(e); });
}
RowVect newRowVect() {
  return construct<FMRowVect>([](FMErrorRecord* e) { return FM_RowVect_Constructor1(e); });
}
ExprEnv newExprEnv() {
  return construct<FMExprEnv>([](FMErrorRecord* e) { return FM_ExprEnv_Constructor1(0, e); });
}
FixPt newFixPt(int32_t value, int32_t precision) {
  return construct<FMFixPt>(
      [&](FMErrorRecord* e) { return FM_FixPt_Constructor1(value, precision, e); });
}
DateTime newDateTime() {
  return construct<FMDateTime>([](FMErrorRecord* e) { return FM_DateTime_Constructor1(e); });
}
Locale newLocale(int32_t kind) {
  return construct<FMLocale>([&](FMErrorRecord* e) { return FM_Locale_Constructor1(kind, e); });
}
QuadChar newQuadChar(const char (&id)[5]) {
  return construct<FMQuadChar>(
      [&](FMErrorRecord* e) { return FM_QuadChar_Constructor2(id[0], id[1], id[2], id[3], e); });
}

void textAssign(FMText* t, const char* nulEnded, Encoding encoding) {
  call([&](FMErrorRecord* e) { FM_Text_Assign(t, nulEnded, encoding, e); });
}
void textAssign(FMText* t, std::string_view bytes, Encoding encoding) {
  call([&](FMErrorRecord* e) {
    FM_Text_AssignWithLength(t, bytes.data(), static_cast<uint32_t>(bytes.size()), encoding, e);
  });
}
void textAssignUnicode(FMText* t, const char16_t* nulEnded) {
  call([&](FMErrorRecord* e) {
    FM_Text_AssignUnicode(t, reinterpret_cast<const uint16_t*>(nulEnded), e);
  });
}
void textSet(FMText* t, const FMText* source, uint32_t position, uint32_t size) {
  call([&](FMErrorRecord* e) { FM_Text_SetText(t, source, position, size, e); });
}
void textAppend(FMText* t, const FMText* source, uint32_t position, uint32_t size) {
  call([&](FMErrorRecord* e) { FM_Text_AppendText(t, source, position, size, e); });
}
void textInsert(FMText* t, const FMText* source, uint32_t position) {
  call([&](FMErrorRecord* e) { FM_Text_InsertText(t, source, position, e); });
}
void textDelete(FMText* t, uint32_t position, uint32_t count) {
  call([&](FMErrorRecord* e) { FM_Text_DeleteText(t, position, count, e); });
}
uint32_t textFind(const FMText* t, const FMText* pattern, uint32_t start) {
  return call([&](FMErrorRecord* e) { return FM_Text_Find(t, pattern, start, e); });
}
uint32_t textSize(const FMText* t) {
  return call([&](FMErrorRecord* e) { return FM_Text_GetSize(t, e); });
}
void textGetBytes(const FMText* t, char* buffer, uint32_t capacity, Encoding encoding,
                  uint32_t position, uint32_t size) {
  call([&](FMErrorRecord* e) {
    FM_Text_GetBytes(t, buffer, capacity, position, size, encoding, e);
  });
}
bool textEqual(const FMText* a, const FMText* b) {
  return call([&](FMErrorRecord* e) { return FM_Text_operatorEQ(a, b, e); }) != 0;
}

void fixPtAssignInt(FMFixPt* n, int32_t value) {
  call([&](FMErrorRecord* e) { FM_FixPt_AssignInt(n, value, e); });
}
void fixPtAssignDouble(FMFixPt* n, double value) {
  call([&](FMErrorRecord* e) { FM_FixPt_AssignDouble(n, value, e); });
}
void fixPtSetPrecision(FMFixPt* n, int32_t precision) {
  call([&](FMErrorRecord* e) { FM_FixPt_SetPrecision(n, precision, e); });
}
int32_t fixPtAsLong(const FMFixPt* n) {
  return call([&](FMErrorRecord* e) { return FM_FixPt_AsLong(n, e); });
}
double fixPtAsFloat(const FMFixPt* n) {
  return call([&](FMErrorRecord* e) { return FM_FixPt_AsFloat(n, e); });
}
void dateTimeSeconds(const FMDateTime* d, FMFixPt* seconds) {
  call([&](FMErrorRecord* e) { FM_DateTime_GetSecondsSinceEpoch(d, seconds, e); });
}
void dateTimeSetSeconds(FMDateTime* d, const FMFixPt* seconds) {
  call([&](FMErrorRecord* e) { FM_DateTime_SetSecondsSinceEpoch(d, seconds, e); });
}

const FMText* dataAsText(const FMData* d) {
  return call([&](FMErrorRecord* e) { return FM_Data_GetAsText(d, e); });
}
const FMLocale* dataLocale(const FMData* d) {
  return call([&](FMErrorRecord* e) { return FM_Data_GetLocale(d, e); });
}
int32_t dataKind(const FMData* d) {
  return call([&](FMErrorRecord* e) { return FM_Data_GetNativeType(d, e); });
}
int16_t dataSetText(FMData* d, const FMText* text, const FMLocale* locale, int32_t kind) {
  return call([&](FMErrorRecord* e) { return FM_Data_SetAsText(d, text, locale, kind, e); });
}
void dataSetNumber(FMData* d, const FMFixPt* number, int32_t kind) {
  call([&](FMErrorRecord* e) { FM_Data_SetAsNumber(d, number, kind, e); });
}
void dataSetTimeStamp(FMData* d, const FMDateTime* when, int32_t kind) {
  call([&](FMErrorRecord* e) { FM_Data_SetAsTimeStamp(d, when, kind, e); });
}

uint32_t vectSize(const FMDataVect* v) {
  return call([&](FMErrorRecord* e) { return FM_DataVect_Size(v, e); });
}
const FMData* vectAt(const FMDataVect* v, uint32_t index) {
  return call([&](FMErrorRecord* e) { return FM_DataVect_At(v, index, e); });
}
const FMText* vectAtAsText(const FMDataVect* v, uint32_t index) {
  return call([&](FMErrorRecord* e) { return FM_DataVect_AtAsText(v, index, e); });
}
const FMFixPt* vectAtAsNumber(const FMDataVect* v, uint32_t index) {
  return call([&](FMErrorRecord* e) { return FM_DataVect_AtAsNumber(v, index, e); });
}
const FMDateTime* vectAtAsTimeStamp(const FMDataVect* v, uint32_t index) {
  return call([&](FMErrorRecord* e) { return FM_DataVect_AtAsTimeStamp(v, index, e); });
}

void vectPushBack(FMDataVect* v, const FMData* d) {
  call([&](FMErrorRecord* e) { FM_DataVect_PushBack(v, d, e); });
}

uint32_t rowsSize(const FMRowVect* rows) {
  return call([&](FMErrorRecord* e) { return FM_RowVect_Size(rows, e); });
}
bool rowsEmpty(const FMRowVect* rows) {
  return call([&](FMErrorRecord* e) { return FM_RowVect_IsEmpty(rows, e); }) != 0;
}
const FMDataVect* rowsAt(const FMRowVect* rows, uint32_t row) {
  return call([&](FMErrorRecord* e) { return FM_RowVect_At(rows, row, e); });
}

int16_t evaluate(const FMExprEnv* env, const FMText* expression, FMData* result) {
  return call([&](FMErrorRecord* e) { return FM_ExprEnv_Evaluate(env, expression, result, e); });
}
int16_t executeFileSql(const FMExprEnv* env, const FMText* query, const FMText* fileName,
                       const FMDataVect* parameters, FMRowVect* result) {
  return call([&](FMErrorRecord* e) {
    return FM_ExprEnv_ExecuteFileSQL(env, query, fileName, parameters, result, e);
  });
}
int16_t registerFunction(const FMQuadChar* pluginId, int16_t functionId, const FMText* name,
                         const FMText* prototype, int16_t minParameters, int16_t maxParameters,
                         uint32_t flags, FMExternalFunction handler) {
  return call([&](FMErrorRecord* e) {
    return FM_ExprEnv_RegisterExternalFunction(pluginId, functionId, name, prototype, minParameters,
                                               maxParameters, flags, handler, e);
  });
}
int16_t unregisterFunction(const FMQuadChar* pluginId, int16_t functionId) {
  return call([&](FMErrorRecord* e) {
    return FM_ExprEnv_UnRegisterExternalFunction(pluginId, functionId, e);
  });
}

namespace {
FMCallRecord* callRecord = nullptr;
}  // namespace

void setCallRecord(FMCallRecord* record) noexcept {
  callRecord = record;
}

void* pluginInstance() noexcept {
  return callRecord != nullptr ? callRecord->instance : nullptr;
}

void currentEnvironment(FMExprEnv* env) {
  if (callRecord != nullptr && callRecord->currentEnvironment != nullptr) {
    callRecord->currentEnvironment(env);
  }
}

}  // namespace host
