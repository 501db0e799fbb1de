// Counting the FM_ operations and failing a chosen one on purpose.
#include <atomic>

#include "host/objects/host_objects.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

// Atomic for hosts that call from several threads; a fault is meant for
// tests that call from one.
std::atomic<uint64_t> operations = 0;
std::atomic<uint64_t> faultAt = 0;  // the number of the operation that fails; 0 for none
std::atomic<int> faultCode = 0;

}  // namespace

bool beginOperation(FMErrorRecord* e) {
  const uint64_t n = ++operations;
  if (faultAt != 0 && n == faultAt) {
    faultAt = 0;
    setErrorCode(e, faultCode);
    return false;
  }
  return true;
}

void beginDelete() {
  const uint64_t n = ++operations;
  if (faultAt == n) ++faultAt;
}

void setErrorCode(FMErrorRecord* e, int code) {
  if (e != nullptr) e->code = code;
}

void failOperation(std::uint64_t n, int code) {
  faultAt = n == 0 ? 0 : operations + n;
  faultCode = code;
}

std::uint64_t operationCount() {
  return operations;
}

}  // namespace vesko_host
