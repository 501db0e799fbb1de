/*
** The host's plug-in interface: the flat C operations a database host offers
** to a loaded plug-in, and the call record it passes to the plug-in's entry.
**
** Every object is reached through an opaque handle.  Whoever constructs an
** object deletes it exactly once; handles returned by accessors (At...,
** GetAsText, GetLocale) are borrowed and must not be deleted.
**
** Every operation takes the error record as its last argument.  The host
** sets `code` to 0 on success, 1 when it ran out of memory and 2 for any
** other failure.
**
** The plug-in resolves these symbols from the process that loads it.
*/
#ifndef VESKO_HOST_FM_API_H
#define VESKO_HOST_FM_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FMErrorRecord {
  int32_t version; /* 1 */
  int32_t code;    /* 0 success, 1 out of memory, 2 other failure */
} FMErrorRecord;

enum { FM_ERROR_NONE = 0, FM_ERROR_BAD_ALLOC = 1, FM_ERROR_FAILURE = 2 };

typedef struct FMText FMText;
typedef struct FMData FMData;
typedef struct FMDataVect FMDataVect;
typedef struct FMRowVect FMRowVect;
typedef struct FMExprEnv FMExprEnv;
typedef struct FMFixPt FMFixPt;
typedef struct FMDateTime FMDateTime;
typedef struct FMLocale FMLocale;
typedef struct FMQuadChar FMQuadChar;

/* Text encodings. */
enum {
  FM_ENCODING_NATIVE = 0, /* UTF-8 on this platform */
  FM_ENCODING_UTF8 = 1,
  FM_ENCODING_ISO_8859_1 = 5
};

/* Value kinds, as FM_Data_GetNativeType reports them. */
enum {
  FM_KIND_INVALID = 0,
  FM_KIND_TEXT = 1,
  FM_KIND_NUMBER = 2,
  FM_KIND_DATE = 3,
  FM_KIND_TIME = 4,
  FM_KIND_TIMESTAMP = 5,
  FM_KIND_CONTAINER = 6,
  FM_KIND_BOOLEAN = 7
};

/* Position FM_Text_Find answers when the pattern does not occur. */
#define FM_TEXT_NOT_FOUND 0xFFFFFFFFu
/* A size of this value means "to the end of the text". */
#define FM_TEXT_TO_END 0xFFFFFFFFu

/* --- Text: UTF-16 code units --------------------------------------------- */
FMText* FM_Text_Constructor1(FMErrorRecord* e);
void FM_Text_Delete(FMText* t, FMErrorRecord* e);
void FM_Text_Assign(FMText* t, const char* s, int32_t encoding, FMErrorRecord* e);
void FM_Text_AssignWithLength(FMText* t, const char* s, uint32_t length, int32_t encoding,
                              FMErrorRecord* e);
void FM_Text_AssignUnicode(FMText* t, const uint16_t* s, FMErrorRecord* e);
void FM_Text_SetText(FMText* t, const FMText* source, uint32_t position, uint32_t size,
                     FMErrorRecord* e);
void FM_Text_AppendText(FMText* t, const FMText* source, uint32_t position, uint32_t size,
                        FMErrorRecord* e);
void FM_Text_InsertText(FMText* t, const FMText* source, uint32_t position, FMErrorRecord* e);
void FM_Text_DeleteText(FMText* t, uint32_t position, uint32_t count, FMErrorRecord* e);
uint32_t FM_Text_Find(const FMText* t, const FMText* pattern, uint32_t start, FMErrorRecord* e);
uint32_t FM_Text_GetSize(const FMText* t, FMErrorRecord* e);
/* Writes units [position, position + size) in `encoding`, always NUL-ended
   within `capacity` bytes; 4 bytes per unit and one more always suffice. */
void FM_Text_GetBytes(const FMText* t, char* buffer, uint32_t capacity, uint32_t position,
                      uint32_t size, int32_t encoding, FMErrorRecord* e);
/* Equality ignores the case of ASCII letters. */
int32_t FM_Text_operatorEQ(const FMText* a, const FMText* b, FMErrorRecord* e);

/* --- Fixed-point number -------------------------------------------------- */
FMFixPt* FM_FixPt_Constructor1(int32_t value, int32_t precision, FMErrorRecord* e);
void FM_FixPt_Delete(FMFixPt* n, FMErrorRecord* e);
void FM_FixPt_AssignInt(FMFixPt* n, int32_t value, FMErrorRecord* e);
void FM_FixPt_AssignDouble(FMFixPt* n, double value, FMErrorRecord* e);
void FM_FixPt_SetPrecision(FMFixPt* n, int32_t precision, FMErrorRecord* e);
int32_t FM_FixPt_AsLong(const FMFixPt* n, FMErrorRecord* e);
double FM_FixPt_AsFloat(const FMFixPt* n, FMErrorRecord* e);

/* --- Date-time: seconds since 0001-01-01 00:00:00 ------------------------- */
FMDateTime* FM_DateTime_Constructor1(FMErrorRecord* e);
void FM_DateTime_Delete(FMDateTime* d, FMErrorRecord* e);
void FM_DateTime_GetSecondsSinceEpoch(const FMDateTime* d, FMFixPt* seconds, FMErrorRecord* e);
void FM_DateTime_SetSecondsSinceEpoch(FMDateTime* d, const FMFixPt* seconds, FMErrorRecord* e);

/* --- Locale and plug-in identifier --------------------------------------- */
FMLocale* FM_Locale_Constructor1(int32_t kind, FMErrorRecord* e);
void FM_Locale_Delete(FMLocale* l, FMErrorRecord* e);
FMQuadChar* FM_QuadChar_Constructor2(char c0, char c1, char c2, char c3, FMErrorRecord* e);
void FM_QuadChar_Delete(FMQuadChar* q, FMErrorRecord* e);

/* --- Data value ---------------------------------------------------------- */
FMData* FM_Data_Constructor1(FMErrorRecord* e);
void FM_Data_Delete(FMData* d, FMErrorRecord* e);
const FMText* FM_Data_GetAsText(const FMData* d, FMErrorRecord* e);
const FMLocale* FM_Data_GetLocale(const FMData* d, FMErrorRecord* e);
int32_t FM_Data_GetNativeType(const FMData* d, FMErrorRecord* e);
int16_t FM_Data_SetAsText(FMData* d, const FMText* text, const FMLocale* locale, int32_t kind,
                          FMErrorRecord* e);
void FM_Data_SetAsNumber(FMData* d, const FMFixPt* number, int32_t kind, FMErrorRecord* e);
void FM_Data_SetAsTimeStamp(FMData* d, const FMDateTime* when, int32_t kind, FMErrorRecord* e);

/* --- Vectors ------------------------------------------------------------- */
FMDataVect* FM_DataVect_Constructor1(FMErrorRecord* e);
void FM_DataVect_Delete(FMDataVect* v, FMErrorRecord* e);
uint32_t FM_DataVect_Size(const FMDataVect* v, FMErrorRecord* e);
const FMData* FM_DataVect_At(const FMDataVect* v, uint32_t index, FMErrorRecord* e);
const FMText* FM_DataVect_AtAsText(const FMDataVect* v, uint32_t index, FMErrorRecord* e);
const FMFixPt* FM_DataVect_AtAsNumber(const FMDataVect* v, uint32_t index, FMErrorRecord* e);
const FMDateTime* FM_DataVect_AtAsTimeStamp(const FMDataVect* v, uint32_t index, FMErrorRecord* e);

/* The host's own: appends a copy of `data`. */
void FM_DataVect_PushBack(FMDataVect* v, const FMData* data, FMErrorRecord* e);

FMRowVect* FM_RowVect_Constructor1(FMErrorRecord* e);
void FM_RowVect_Delete(FMRowVect* v, FMErrorRecord* e);
uint32_t FM_RowVect_Size(const FMRowVect* v, FMErrorRecord* e);
int32_t FM_RowVect_IsEmpty(const FMRowVect* v, FMErrorRecord* e);
const FMDataVect* FM_RowVect_At(const FMRowVect* v, uint32_t row, FMErrorRecord* e);
/* The host's own: appends a copy of `row`. */
void FM_RowVect_PushBack(FMRowVect* v, const FMDataVect* row, FMErrorRecord* e);

/* --- Calculation environment --------------------------------------------- */

/* An external function's handler: answers a host error number, 0 for
   success, and fills `result`. */
typedef int16_t (*FMExternalFunction)(int16_t functionId, const FMExprEnv* env,
                                      const FMDataVect* parameters, FMData* result);

FMExprEnv* FM_ExprEnv_Constructor1(int32_t kind, FMErrorRecord* e);
void FM_ExprEnv_Delete(FMExprEnv* env, FMErrorRecord* e);
int16_t FM_ExprEnv_Evaluate(const FMExprEnv* env, const FMText* expression, FMData* result,
                            FMErrorRecord* e);
int16_t FM_ExprEnv_ExecuteFileSQL(const FMExprEnv* env, const FMText* query, const FMText* fileName,
                                  const FMDataVect* parameters, FMRowVect* result,
                                  FMErrorRecord* e);
int16_t FM_ExprEnv_RegisterExternalFunction(const FMQuadChar* pluginId, int16_t functionId,
                                            const FMText* name, const FMText* prototype,
                                            int16_t minParameters, int16_t maxParameters,
                                            uint32_t flags, FMExternalFunction handler,
                                            FMErrorRecord* e);
int16_t FM_ExprEnv_UnRegisterExternalFunction(const FMQuadChar* pluginId, int16_t functionId,
                                              FMErrorRecord* e);

/* --- The plug-in entry and its call record ------------------------------- */

enum { FM_MESSAGE_ENABLE = 0, FM_MESSAGE_SHUTDOWN = 4, FM_MESSAGE_GET_STRING = 7 };

/* Fills `env` with the environment of the calculation now running. */
typedef int16_t (*FMCurrentEnvironment)(FMExprEnv* env);

/* The record the host passes on every entry call.  Only the named fields
   carry meaning; the byte offsets are part of the interface. */
typedef struct FMCallRecord {
  uint16_t hostVersion;                    /* 0 */
  uint8_t reserved2[11];                   /* 2 */
  uint8_t message;                         /* 13 */
  uint8_t reserved14;                      /* 14 */
  uint8_t parameter1;                      /* 15: get string: the string's identifier */
  uint64_t parameter2;                     /* 16 */
  uint64_t parameter3;                     /* 24: get string: buffer capacity (low half) */
  void* instance;                          /* 32: the plug-in library's own handle */
  int64_t result;                          /* 40: enable answer, or UTF-16 buffer address */
  uint64_t reserved48[2];                  /* 48 */
  FMCurrentEnvironment currentEnvironment; /* 64 */
} FMCallRecord;

typedef void (*FMEntryPoint)(FMCallRecord* record);

#define FM_ENTRY_POINT_NAME "FMExternCallProc"

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <cstddef>
static_assert(offsetof(FMCallRecord, message) == 13);
static_assert(offsetof(FMCallRecord, parameter1) == 15);
static_assert(offsetof(FMCallRecord, parameter3) == 24);
static_assert(offsetof(FMCallRecord, instance) == 32);
static_assert(offsetof(FMCallRecord, result) == 40);
static_assert(offsetof(FMCallRecord, currentEnvironment) == 64);
#endif

#endif
