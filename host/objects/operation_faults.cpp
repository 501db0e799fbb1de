// Counting the FM_ operations and failing a chosen one on purpose.
#include "host/objects/host_objects.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

uint64_t operations = 0;
uint64_t faultAt = 0;  // the number of the operation that fails; 0 for none
int faultCode = 0;

}  // namespace

bool beginOperation(FMErrorRecord* e) {
  ++operations;
  if (faultAt != 0 && operations == faultAt) {
    faultAt = 0;
    setErrorCode(e, faultCode);
    return false;
  }
  return true;
}

void beginDelete() {
  ++operations;
  if (faultAt == operations) ++faultAt;
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
