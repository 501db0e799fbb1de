// The substitute host's own C++ face: what vesko-calc and the tests use to
// build values, call external functions and watch the plug-in's objects.
// The plug-in itself never includes this; it sees only fm_api.h.
#ifndef VESKO_HOST_SUBSTITUTE_HOST_H
#define VESKO_HOST_SUBSTITUTE_HOST_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/fm_api.h"

namespace vesko_host {

// --- Values ---------------------------------------------------------------

// A host value as a plain C++ value.  `text` is UTF-8; `number` is the
// number of a number or boolean; `seconds` counts from 0001-01-01 00:00:00
// for dates, times and timestamps.
struct Value {
  int kind = FM_KIND_INVALID;
  std::string text;
  double number = 0;
  double seconds = 0;
};

Value textValue(std::string_view utf8);
Value numberValue(double number);
Value dateValue(int year, int month, int day);
Value timeValue(int hours, int minutes, double seconds);
Value timestampValue(int year, int month, int day, int hours, int minutes, double seconds);
Value containerValue();
Value booleanValue(bool value);

// The text form the host shows for a value (what a calculation prints).
std::string textForm(const Value& value);

// --- External functions ---------------------------------------------------

// Calls a registered external function by name (case-insensitive) as a
// calculation would: the host builds the parameter vector, an empty result
// and the calculation environment, and reads the result back.  A result
// the function left untouched comes back with kind FM_KIND_INVALID.
// Answers the handler's host error number; an unknown name or a parameter
// count outside the registered bounds answers a host error of its own.
int16_t callExternal(std::string_view name, const std::vector<Value>& arguments, Value* result);

bool isRegistered(std::string_view name);
std::size_t registeredCount();

// --- Calculations and the open database file ------------------------------

// Evaluates a calculation as the host does (the calculation language of
// vesko-calc) and answers its host error number, 0 for success.
int16_t evaluate(std::string_view expression, Value* result);

// The same, describing a failure: `message` for people, and `external`
// when the error is one a registered function answered (its own failure,
// not the calculation's).
struct EvaluationFailure {
  std::string message;
  bool external = false;
};
int16_t evaluate(std::string_view expression, Value* result, EvaluationFailure* failure);

// Opens the SQLite file that the host treats as its open database; closes
// the one open before.  Answers false and sets *error when it cannot.  A
// file that cannot be written, or any file opened kReadOnly, is read-only:
// a query that would change it fails with kHostErrorQueryFailed.
enum class DatabaseAccess { kReadWrite, kReadOnly };
bool openDatabase(const std::string& path, std::string* error,
                  DatabaseAccess access = DatabaseAccess::kReadWrite);
void closeDatabase();
// What one query may take: its running time, stopped with
// kHostErrorQueryTimeLimit, and the memory its rows hold, beyond which
// they are dropped with kHostErrorQueryTooLarge.  0 removes a bound.
struct QueryLimits {
  double seconds = 60;
  std::size_t rowBytes = std::size_t{256} << 20;
};
void setQueryLimits(const QueryLimits& limits);
QueryLimits queryLimits();
// The absolute path of the open database file, or empty.
std::string databasePath();
// SQLite's own reasons for the queries that failed since the last call
// (the first 20 of them), oldest first.
std::vector<std::string> takeSqlFailures();
// Makes Get(FilePath) answer `answer` as it stands (a server path, say);
// an empty optional restores the real answer, "file:" and the absolute path.
void overrideFilePath(std::optional<std::string> answer);

// --- Instrument -----------------------------------------------------------

// Objects of each kind that were made through the FM_..._Constructor
// operations and not yet deleted: the plug-in's own objects.
struct LiveObjects {
  std::size_t text = 0, data = 0, dataVect = 0, rowVect = 0, exprEnv = 0, fixPt = 0, dateTime = 0,
              locale = 0, quadChar = 0;
  std::size_t total() const;
  std::string describe() const;  // "text 2, data 1" or "none"
};
LiveObjects livePluginObjects();

// Misuse seen since the last call: a double delete, the use of a deleted or
// unknown handle, the delete of a borrowed object.  Each is also printed to
// standard error when it happens.
std::vector<std::string> takeViolations();

// Makes the n-th host operation from now (1 = the next one) fail with
// `code` (FM_ERROR_BAD_ALLOC or FM_ERROR_FAILURE); the operation then does
// nothing else.  Deletes never fail: a fault due on one strikes the
// operation after it.  n = 0 clears a pending fault.
void failOperation(std::uint64_t n, int code);
// True while the fault failOperation asked for has not struck yet.
bool faultPending();
// Host operations (FM_ calls) made since the library was loaded.
std::uint64_t operationCount();

// Makes FM_ExprEnv_RegisterExternalFunction answer `error` for the function
// number `functionId` (0 clears it).
void failRegistration(int16_t functionId, int16_t error);

}  // namespace vesko_host

#endif
