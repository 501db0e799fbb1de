// A minimal plug-in for the loader tests: registers three functions,
// answers one string, and keeps the latest call record as a real one does.
//   Tiny_Echo(x...)     the first parameter back, or nothing
//   Tiny_Evaluate(e)    evaluates e in the calculation that called it
//   Tiny_Query(sql)     the first cell of the query, through an environment
//                       the current-environment callback fills
#include <cstring>

#include "api/fm_api.h"

namespace {

FMCallRecord* latestRecord = nullptr;

int16_t echo(int16_t, const FMExprEnv*, const FMDataVect* parameters, FMData* result) {
  FMErrorRecord e{1, 0};
  if (FM_DataVect_Size(parameters, &e) == 0) return 0;
  const FMText* text = FM_DataVect_AtAsText(parameters, 0, &e);
  return FM_Data_SetAsText(result, text, FM_Data_GetLocale(result, &e), FM_KIND_TEXT, &e);
}

int16_t evaluate(int16_t, const FMExprEnv* env, const FMDataVect* parameters, FMData* result) {
  FMErrorRecord e{1, 0};
  return FM_ExprEnv_Evaluate(env, FM_DataVect_AtAsText(parameters, 0, &e), result, &e);
}

int16_t query(int16_t, const FMExprEnv*, const FMDataVect* parameters, FMData* result) {
  FMErrorRecord e{1, 0};
  FMExprEnv* env = FM_ExprEnv_Constructor1(0, &e);
  latestRecord->currentEnvironment(env);
  FMText* noFile = FM_Text_Constructor1(&e);
  FMDataVect* noParameters = FM_DataVect_Constructor1(&e);
  FMRowVect* rows = FM_RowVect_Constructor1(&e);
  int16_t error = FM_ExprEnv_ExecuteFileSQL(env, FM_DataVect_AtAsText(parameters, 0, &e), noFile,
                                            noParameters, rows, &e);
  if (error == 0 && !FM_RowVect_IsEmpty(rows, &e)) {
    const FMText* cell = FM_DataVect_AtAsText(FM_RowVect_At(rows, 0, &e), 0, &e);
    error = FM_Data_SetAsText(result, cell, nullptr, FM_KIND_TEXT, &e);
  }
  FM_RowVect_Delete(rows, &e);
  FM_DataVect_Delete(noParameters, &e);
  FM_Text_Delete(noFile, &e);
  FM_ExprEnv_Delete(env, &e);
  return error;
}

struct Function {
  const char* name;
  int16_t min, max;
  FMExternalFunction handler;
};
const Function kFunctions[] = {
    {"Tiny_Echo", 0, -1, echo}, {"Tiny_Evaluate", 1, 1, evaluate}, {"Tiny_Query", 1, 1, query}};

int16_t registerAll() {
  FMErrorRecord e{1, 0};
  FMQuadChar* id = FM_QuadChar_Constructor2('T', 'I', 'N', 'Y', &e);
  FMText* name = FM_Text_Constructor1(&e);
  int16_t error = 0;
  int16_t number = 1;
  for (const Function& function : kFunctions) {
    FM_Text_Assign(name, function.name, FM_ENCODING_UTF8, &e);
    if (error == 0)
      error = FM_ExprEnv_RegisterExternalFunction(id, number, name, name, function.min,
                                                  function.max, 0, function.handler, &e);
    ++number;
  }
  FM_Text_Delete(name, &e);
  FM_QuadChar_Delete(id, &e);
  return error;
}

void unregisterAll() {
  FMErrorRecord e{1, 0};
  FMQuadChar* id = FM_QuadChar_Constructor2('T', 'I', 'N', 'Y', &e);
  for (int16_t number = 1; number <= 3; ++number)
    FM_ExprEnv_UnRegisterExternalFunction(id, number, &e);
  FM_QuadChar_Delete(id, &e);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void FMExternCallProc(FMCallRecord* record) {
  latestRecord = record;
  switch (record->message) {
    case FM_MESSAGE_ENABLE:
      record->result = registerAll() == 0 ? 53 : -2;
      break;
    case FM_MESSAGE_SHUTDOWN:
      unregisterAll();
      break;
    case FM_MESSAGE_GET_STRING:
      if (record->parameter1 == 128) {
        auto* buffer = reinterpret_cast<uint16_t*>(record->result);
        const char name[] = "Tiny";
        const uint32_t capacity = static_cast<uint32_t>(record->parameter3);
        uint32_t i = 0;
        for (; i + 1 < capacity && name[i] != '\0'; ++i) buffer[i] = static_cast<uint16_t>(name[i]);
        if (capacity > 0) buffer[i] = 0;
      }
      break;
    default:
      break;
  }
}
