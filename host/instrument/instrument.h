// The substitute host as a test instrument: it counts the FM_ operations,
// fails a chosen one on purpose, and records misuse.  Every FM_ operation
// goes through beginOperation (or beginDelete), so the instrument stands
// below the objects and knows nothing of them.
#ifndef VESKO_HOST_INSTRUMENT_INSTRUMENT_H
#define VESKO_HOST_INSTRUMENT_INSTRUMENT_H

#include <atomic>
#include <cstdint>
#include <string>

#include "api/fm_api.h"

namespace vesko_host {

// Records a misuse: printed to standard error, kept for takeViolations().
void recordViolation(std::string message);

// Operations counted so far, and the number of the one that is to fail
// (0 for none).
extern std::atomic<uint64_t> operationsBegun;
extern std::atomic<uint64_t> faultDue;
// Fails the operation now beginning with the injected fault's code.
bool injectFault(FMErrorRecord* e);
// Counts an FM_ operation and applies an injected fault; false means the
// operation must not run (the code is already set).
inline bool beginOperation(FMErrorRecord* e) {
  const uint64_t n = operationsBegun.fetch_add(1, std::memory_order_relaxed) + 1;
  if (n != faultDue.load(std::memory_order_relaxed)) [[likely]]
    return true;
  return injectFault(e);
}
// Counts a delete.  A delete never fails: no owner could do anything about
// it but leak, so a fault due on a delete strikes the next operation.
void beginDelete();
void setErrorCode(FMErrorRecord* e, int code);

}  // namespace vesko_host

#endif
