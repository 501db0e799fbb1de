// The seven external functions' handlers.  Each runs behind the call
// boundary (functions/call_boundary.h), which the host calls, and answers
// a host error number: 0 for success, -1 for a failure whose code and
// message are in the error record, or the host's own code from storing a
// text result.
#ifndef VESKO_FUNCTIONS_EXTERNAL_FUNCTIONS_H
#define VESKO_FUNCTIONS_EXTERNAL_FUNCTIONS_H

#include <cstdint>

#include "functions/call_boundary.h"

namespace vesko {

int16_t version(Call& call);         // reaches the host only
int16_t lastError(Call& call);       // reads the record only
int16_t runScript(Call& call);       // runs Lua
int16_t runFile(Call& call);         // runs Lua
int16_t callFunction(Call& call);    // runs Lua
int16_t timeout(Call& call);         // reaches the host only
int16_t resumeFunction(Call& call);  // runs Lua

}  // namespace vesko

#endif
