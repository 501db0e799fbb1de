// The steps Vesko_RunScript and Vesko_RunFile share once their chunk is
// loaded on the main stack.
#ifndef VESKO_FUNCTIONS_RUN_CHUNK_H
#define VESKO_FUNCTIONS_RUN_CHUNK_H

#include <cstdint>

#include "functions/call_boundary.h"

struct lua_State;

namespace vesko {

// [-0, +0 or +results] With the chunk at position 1 of the call's frame:
// pushes parameters 1 to count - 1 (count > 0) as its arguments, runs it under the
// time limit and stores its first result (answering the store's code, or
// `defaultCode`).  A run-time error unwinds to the call's boundary.
int16_t runLoadedChunk(Call& call, uint32_t count, int16_t defaultCode);

// Records a failed load from the error value on top of L's stack; answers -1.
int16_t failLoad(lua_State* L, int status, bool fromFile);

// Records that the arguments do not fit on the stack; answers -1.
int16_t failArguments();

}  // namespace vesko

#endif
