// The seven external functions' handlers, in the shape the host calls:
// function number, calculation environment, parameters, result to fill.
// Each answers a host error number: 0 for success, -1 for a failure whose
// code and message are in the error record, or the host's own code from
// storing a text result.  None lets any failure escape into the host.
#ifndef VESKO_FUNCTIONS_EXTERNAL_FUNCTIONS_H
#define VESKO_FUNCTIONS_EXTERNAL_FUNCTIONS_H

#include <cstdint>

#include "api/fm_api.h"

namespace vesko {

#define VESKO_HANDLER(name)                                                            \
  int16_t name(int16_t functionId, const FMExprEnv* env, const FMDataVect* parameters, \
               FMData* result) noexcept;

VESKO_HANDLER(handleVersion)
VESKO_HANDLER(handleLastError)
VESKO_HANDLER(handleRunScript)
VESKO_HANDLER(handleRunFile)
VESKO_HANDLER(handleCallFunction)
VESKO_HANDLER(handleTimeout)
VESKO_HANDLER(handleResumeFunction)

#undef VESKO_HANDLER

}  // namespace vesko

#endif
