// FM_ExprEnv_*: calculation environments, evaluating calculations, running
// queries on the open database file, and registering external functions.
#include <string>
#include <utility>
#include <vector>

#include "host/calc/calc_evaluator.h"
#include "host/sql/database.h"
#include "api/fm_api.h"
#include "host/plugins/function_registry.h"
#include "host/objects/host_errors.h"
#include "host/objects/host_objects.h"
#include "host/objects/row_store.h"
#include "host/values/text_encoding.h"
#include "host/objects/data_values.h"

using namespace vesko_host;

namespace {

// SQLite's reasons for the queries that failed, until someone takes them;
// the first few only, so a script that fails in a loop cannot fill memory.
constexpr std::size_t kKeptSqlFailures = 20;
std::vector<std::string>& sqlFailures() {
  static auto* failures = new std::vector<std::string>();
  return *failures;
}

}  // namespace

std::vector<std::string> vesko_host::takeSqlFailures() {
  return std::exchange(sqlFailures(), {});
}

extern "C" {

// A new environment belongs to no calculation until the call record's
// current-environment callback attaches it; it can evaluate either way.
FMExprEnv* FM_ExprEnv_Constructor1(int32_t kind, FMErrorRecord* e) {
  return guarded(e, static_cast<FMExprEnv*>(nullptr), [&] {
    auto* env = new FMExprEnv;
    env->kind = kind;
    return handOut(env, Ownership::plugin);
  });
}

void FM_ExprEnv_Delete(FMExprEnv* env, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(env, ObjectKind::exprEnv, op, e)) return;
    noteDeleted(env);
    delete env;
  });
}

// Answers the calculation's host error; on success stores its value in
// `result`, which a failure leaves as it was.
int16_t FM_ExprEnv_Evaluate(const FMExprEnv* env, const FMText* expression, FMData* result,
                            FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<int16_t>(kHostErrorUnknown), [&]() -> int16_t {
    const FMExprEnv* environment = useHandle(env, op, e);
    const FMText* text = useHandle(expression, op, e);
    FMData* data = useHandle(result, op, e);
    if (environment == nullptr || text == nullptr || data == nullptr) return kHostErrorUnknown;
    Value value;
    CalcError error;
    const int16_t answer = evaluateCalculation(utf8FromUnits(text->units), &value, &error);
    if (answer == kHostErrorNone) assignValue(*data, value);
    return answer;
  });
}

// Replaces the rows of `result` with the query's; an empty file name means
// the open file.  The host errors are those of runQuery (database.h).
int16_t FM_ExprEnv_ExecuteFileSQL(const FMExprEnv* env, const FMText* query, const FMText* fileName,
                                  const FMDataVect* parameters, FMRowVect* result,
                                  FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<int16_t>(kHostErrorUnknown), [&]() -> int16_t {
    const FMExprEnv* environment = useHandle(env, op, e);
    const FMText* sql = useHandle(query, op, e);
    const FMText* file = useHandle(fileName, op, e);
    const FMDataVect* bound = useHandle(parameters, op, e);
    FMRowVect* rows = useHandle(result, op, e);
    if (environment == nullptr || sql == nullptr || file == nullptr || bound == nullptr ||
        rows == nullptr)
      return kHostErrorUnknown;
    clearRows(*rows);
    if (!namesOpenDatabase(utf8FromUnits(file->units))) return kHostErrorFileMissing;
    std::string message;
    const int16_t error = runQuery(utf8FromUnits(sql->units), *bound, *rows, &message);
    if (error != kHostErrorNone && sqlFailures().size() < kKeptSqlFailures)
      sqlFailures().push_back(message);
    return error;
  });
}

int16_t FM_ExprEnv_RegisterExternalFunction(const FMQuadChar* pluginId, int16_t functionId,
                                            const FMText* name, const FMText* prototype,
                                            int16_t minParameters, int16_t maxParameters,
                                            uint32_t flags, FMExternalFunction handler,
                                            FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<int16_t>(kHostErrorUnknown), [&]() -> int16_t {
    const FMQuadChar* id = useHandle(pluginId, op, e);
    const FMText* nameText = useHandle(name, op, e);
    const FMText* prototypeText = useHandle(prototype, op, e);
    if (id == nullptr || nameText == nullptr || prototypeText == nullptr) return kHostErrorUnknown;
    if (!checkPointer(reinterpret_cast<const void*>(handler), "handler", op, e))
      return kHostErrorUnknown;
    if (nameText->units.empty()) {
      recordViolation(std::string(op) + ": empty name");
      setErrorCode(e, FM_ERROR_FAILURE);
      return kHostErrorUnknown;
    }
    ExternalFunction function;
    std::copy(id->chars, id->chars + 4, function.pluginId.begin());
    function.number = functionId;
    function.name = utf8FromUnits(nameText->units);
    function.prototype = utf8FromUnits(prototypeText->units);
    function.minParameters = minParameters;
    function.maxParameters = maxParameters;
    function.flags = flags;
    function.handler = handler;
    return addExternalFunction(function);
  });
}

int16_t FM_ExprEnv_UnRegisterExternalFunction(const FMQuadChar* pluginId, int16_t functionId,
                                              FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<int16_t>(kHostErrorUnknown), [&]() -> int16_t {
    const FMQuadChar* id = useHandle(pluginId, op, e);
    if (id == nullptr) return kHostErrorUnknown;
    std::array<char, 4> chars;
    std::copy(id->chars, id->chars + 4, chars.begin());
    return removeExternalFunction(chars, functionId);
  });
}

}  // extern "C"
