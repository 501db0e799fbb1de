// The error record: the code and message of the latest external-function
// call, kept in two host texts that live as long as the library is loaded.
//
// A writer always sets both, code first, one right after the other, so the
// record never pairs a new code with an old message.  Writers set the
// record's value here and the host texts are brought up to date when they
// are read (only Vesko_LastError reads them), so that a call which resets
// the record on entry and sets it again on leaving does not pay host text
// operations for values nobody looks at.
#ifndef VESKO_ENGINE_ERROR_RECORD_H
#define VESKO_ENGINE_ERROR_RECORD_H

#include <cstdint>
#include <string>
#include <string_view>

#include "api/fm_api.h"

struct lua_State;

namespace vesko {

// Every code the plug-in records, "0" included.
enum class ErrorCode : uint16_t {
  kNone = 0,
  kFileUnreadable = 3002,  // also a file error while loading
  kRelativePath = 3004,    // the database path does not begin with "file:"
  kNoDatabasePath = 3005,  // the host cannot evaluate Get(FilePath)
  kSyntax = 3010,          // loading
  kLoadMemory = 3012,      // loading
  kLoadOther = 3018,       // loading
  kRun = 3020,             // running: a run-time error, the time limit included
  kRunMemory = 3022,       // running
  kErrorHandler = 3024,    // running: an error while handling an error
  kRunOther = 3028,        // running
  kNoFunction = 3100,
  kNoTable = 3110,
  kNoEntry = 3111,
  kYielded = 3200,
  kNothingToResume = 3250,
  kBadSeconds = 3300,
  kBadInstructions = 3350,
  kBadArgument = 3400,
  kHostFailure = 3500,
};

// The failures with a fixed message, and their codes: the one table of
// them (error_record.cpp).
enum class Failure {
  kFileUnreadable,    // 3002 "File not found or is not readable."
  kRelativePath,      // 3004
  kNoDatabasePath,    // 3005
  kNoFunction,        // 3100 "Function does not exist."
  kNoTable,           // 3110 "Table does not exist."
  kNoEntry,           // 3111 "Table entry is not a function."
  kYielded,           // 3200 "Coroutine yielded."
  kNothingToResume,   // 3250 "Cannot resume. No function is active."
  kResumingRunning,   // 3020 "Cannot resume the function that is running."
  kTooManyArguments,  // 3020 "Too many arguments for the Lua stack."
  kNestedTooDeeply,   // 3020 "Calls nested too deeply."
  kBadSeconds,        // 3300
  kBadInstructions,   // 3350
  kBadArgument,       // 3400 "Bad argument."
};

// Called when the library is loaded and unloaded.
void createErrorRecord() noexcept;
void destroyErrorRecord() noexcept;

// After shutdown: "0" and "", as start-up leaves it.
void resetErrorRecord() noexcept;

// The code ("0" for no error) and message texts, up to date.  Borrowed.
// Raises the host's failure when a text cannot be made or written.
const FMText* errorCodeText();
const FMText* errorMessageText();

// Sets the code and message of `failure`.
void setError(Failure failure);
// Sets `code` with `message`, both in the host's native encoding.
void setError(ErrorCode code, std::string_view message);
// Sets code "0" and the empty message.  Cheap: every handler begins so.
void clearError() noexcept;

// Whether the record holds a failure: a code other than "0" and "3200" (a
// yield, which is no failure).
bool errorRecorded() noexcept;

// Sets `code` with the text form of the error value on top of L's stack as
// UTF-8: strings and numbers as the interpreter prints them (up to a NUL),
// anything else as "(error object is a X value)".  The value stays on the
// stack; no Lua code runs and the interpreter allocates nothing.
void setErrorFromLua(ErrorCode code, lua_State* L);

// The codes of the interpreter's load and run statuses (never kNone).
ErrorCode loadStatusCode(int status, bool fromFile);
ErrorCode runStatusCode(int status);

// The Lua traceback of the latest call's run-time error, or empty.  Every
// writer above empties it; a run that fails with a run-time error sets it
// right after recording the error (engine/traceback.h).
const std::string& errorTraceback();
void setErrorTraceback(std::string traceback) noexcept;

}  // namespace vesko

#endif
