// Counting the FM_ operations and failing a chosen one on purpose.
#include <atomic>

#include "host/instrument/instrument.h"
#include "host/substitute_host.h"

namespace vesko_host {

// Atomic for hosts that call from several threads; a fault is meant for
// tests that call from one.
std::atomic<uint64_t> operationsBegun = 0;
std::atomic<uint64_t> faultDue = 0;

namespace {
std::atomic<int> faultCode = 0;
}  // namespace

bool injectFault(FMErrorRecord* e) {
  faultDue = 0;
  setErrorCode(e, faultCode);
  return false;
}

void beginDelete() {
  const uint64_t n = ++operationsBegun;
  if (faultDue == n) ++faultDue;
}

void setErrorCode(FMErrorRecord* e, int code) {
  if (e != nullptr) e->code = code;
}

void failOperation(std::uint64_t n, int code) {
  faultDue = n == 0 ? 0 : operationsBegun.load() + n;
  faultCode = code;
}

bool faultPending() {
  return faultDue != 0;
}

std::uint64_t operationCount() {
  return operationsBegun;
}

}  // namespace vesko_host
