// The steps Vesko_RunScript and Vesko_RunFile share once their chunk is
// loaded on the main stack.
#ifndef VESKO_FUNCTIONS_RUN_CHUNK_H
#define VESKO_FUNCTIONS_RUN_CHUNK_H

#include <cstdint>

#include "api/fm_api.h"

struct lua_State;

namespace vesko {

// How every function that runs on the main state begins, inside its
// protected steps: resets the error record and clears the steps' frame of
// the main stack.  Answers the interpreter, or null when none runs.  Never
// called outside protected steps: at the bottom of the main stack it would
// release the anchor thread (engine/anchors.h).
lua_State* beginMainRun();

// With the chunk at position 1 of the main stack: pushes parameters 1 to
// count - 1 as its arguments, arms the time limit, calls it in protected
// mode and either stores its first result (answering the store's code, or
// `defaultCode`) or records the failure (answering -1).
int16_t runLoadedChunk(const FMDataVect* parameters, uint32_t count, FMData* result,
                       int16_t defaultCode);

// Records a failed load from the error value on top of L's stack; answers -1.
int16_t failLoad(lua_State* L, int status, bool fromFile);

// Records a failed run from the error value on top of L's stack; answers -1.
int16_t failRun(lua_State* L, int status);

// Records that the arguments do not fit on L's stack; answers -1.
int16_t failArguments();

}  // namespace vesko

#endif
