// FM_Locale_* and FM_QuadChar_*: a locale is only its kind here (the host
// formats every value the same way); a QuadChar names a plug-in.
#include "api/fm_api.h"
#include "host/objects/host_objects.h"

using namespace vesko_host;

extern "C" {

FMLocale* FM_Locale_Constructor1(int32_t kind, FMErrorRecord* e) {
  return guarded(e, static_cast<FMLocale*>(nullptr), [&] {
    auto* locale = new FMLocale;
    locale->kind = kind;
    return handOut(locale, Ownership::plugin);
  });
}

void FM_Locale_Delete(FMLocale* l, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(l, ObjectKind::locale, op, e)) return;
    noteDeleted(l);
    delete l;
  });
}

FMQuadChar* FM_QuadChar_Constructor2(char c0, char c1, char c2, char c3, FMErrorRecord* e) {
  return guarded(e, static_cast<FMQuadChar*>(nullptr), [&] {
    auto* id = new FMQuadChar;
    id->chars[0] = c0;
    id->chars[1] = c1;
    id->chars[2] = c2;
    id->chars[3] = c3;
    return handOut(id, Ownership::plugin);
  });
}

void FM_QuadChar_Delete(FMQuadChar* q, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(q, ObjectKind::quadChar, op, e)) return;
    noteDeleted(q);
    delete q;
  });
}

}  // extern "C"
