// FM_DateTime_*: a moment as seconds since 0001-01-01 00:00:00, fractions
// kept, read and written through a FixPt.
#include "api/fm_api.h"
#include "host/objects/host_objects.h"

using namespace vesko_host;

extern "C" {

FMDateTime* FM_DateTime_Constructor1(FMErrorRecord* e) {
  return guarded(e, static_cast<FMDateTime*>(nullptr),
                 [] { return handOut(new FMDateTime, Ownership::plugin); });
}

void FM_DateTime_Delete(FMDateTime* d, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(d, ObjectKind::dateTime, op, e)) return;
    noteDeleted(d);
    delete d;
  });
}

void FM_DateTime_GetSecondsSinceEpoch(const FMDateTime* d, FMFixPt* seconds, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    const FMDateTime* when = useHandle(d, op, e);
    FMFixPt* number = useHandle(seconds, op, e);
    if (when != nullptr && number != nullptr) number->value = when->seconds;
  });
}

void FM_DateTime_SetSecondsSinceEpoch(FMDateTime* d, const FMFixPt* seconds, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMDateTime* when = useHandle(d, op, e);
    const FMFixPt* number = useHandle(seconds, op, e);
    if (when != nullptr && number != nullptr) when->seconds = number->value;
  });
}

}  // extern "C"
