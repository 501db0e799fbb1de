// FM_FixPt_*: the host's numbers, a double and the number of digits after
// the point that its text form keeps.
#include <cmath>
#include <limits>

#include "api/fm_api.h"
#include "host/objects/host_objects.h"

using namespace vesko_host;

extern "C" {

FMFixPt* FM_FixPt_Constructor1(int32_t value, int32_t precision, FMErrorRecord* e) {
  return guarded(e, static_cast<FMFixPt*>(nullptr), [&] {
    auto* number = new FMFixPt;
    number->value = value;
    number->precision = precision;
    return handOut(number, Ownership::plugin);
  });
}

void FM_FixPt_Delete(FMFixPt* n, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(n, ObjectKind::fixPt, op, e)) return;
    noteDeleted(n);
    delete n;
  });
}

void FM_FixPt_AssignInt(FMFixPt* n, int32_t value, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    if (FMFixPt* number = useHandle(n, op, e)) number->value = value;
  });
}

void FM_FixPt_AssignDouble(FMFixPt* n, double value, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    if (FMFixPt* number = useHandle(n, op, e)) number->value = value;
  });
}

void FM_FixPt_SetPrecision(FMFixPt* n, int32_t precision, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    if (FMFixPt* number = useHandle(n, op, e)) number->precision = precision;
  });
}

// Truncates toward zero; values beyond the 32-bit range give its nearest
// end, NaN gives 0.
int32_t FM_FixPt_AsLong(const FMFixPt* n, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 0, [&]() -> int32_t {
    const FMFixPt* number = useHandle(n, op, e);
    if (number == nullptr || std::isnan(number->value)) return 0;
    constexpr double low = std::numeric_limits<int32_t>::min();
    constexpr double high = std::numeric_limits<int32_t>::max();
    if (number->value <= low) return std::numeric_limits<int32_t>::min();
    if (number->value >= high) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::trunc(number->value));
  });
}

double FM_FixPt_AsFloat(const FMFixPt* n, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 0.0, [&] {
    const FMFixPt* number = useHandle(n, op, e);
    return number == nullptr ? 0.0 : number->value;
  });
}

}  // extern "C"
