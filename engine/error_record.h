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

#include <string>
#include <string_view>

#include "api/fm_api.h"

struct lua_State;

namespace vesko {

// Called when the library is loaded and unloaded.
void createErrorRecord() noexcept;
void destroyErrorRecord() noexcept;

// The code ("0" for no error) and message texts, up to date.  Borrowed.
// Raises the host's failure when a text cannot be made or written.
const FMText* errorCodeText();
const FMText* errorMessageText();

// Sets code and message, both in the host's native encoding.
void setError(std::string_view code, std::string_view message);
// Sets code "0" and the empty message.  Cheap: every handler begins so.
void clearError();

// Sets `code` with the text form of the error value on top of L's stack as
// UTF-8: strings and numbers as the interpreter prints them (up to a NUL),
// anything else as "(error object is a X value)".  The value stays on the
// stack; no Lua code runs and the interpreter allocates nothing.
void setErrorFromLua(std::string_view code, lua_State* L);

// The Lua traceback of the latest call's run-time error, or empty.  Every
// writer above empties it; a run that fails with a run-time error sets it
// right after recording the error (engine/traceback.h).
const std::string& errorTraceback();
void setErrorTraceback(std::string traceback) noexcept;

}  // namespace vesko

#endif
