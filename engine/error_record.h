// The error record: the code and message of the latest external-function
// call, kept in two host texts that live as long as the library is loaded.
//
// A writer always sets both texts, code first, one right after the other,
// so the record never pairs a new code with an old message.
#ifndef VESKO_ENGINE_ERROR_RECORD_H
#define VESKO_ENGINE_ERROR_RECORD_H

#include <string_view>

#include "host/fm_api.h"

struct lua_State;

namespace vesko {

// Called when the library is loaded and unloaded.
void createErrorRecord() noexcept;
void destroyErrorRecord() noexcept;

// The code ("0" for no error) and message texts.  Borrowed; may be null
// only if the host could not make them when the library was loaded.
const FMText* errorCodeText();
const FMText* errorMessageText();

// Sets code and message, both in the host's native encoding.
void setError(std::string_view code, std::string_view message);
inline void clearError() {
  setError("0", "");
}

// Sets `code` with the text form of the error value on top of L's stack as
// UTF-8: strings and numbers as the interpreter prints them, anything else as
// "(error object is a X value)".  The value stays on the stack.
void setErrorFromLua(std::string_view code, lua_State* L);

}  // namespace vesko

#endif
