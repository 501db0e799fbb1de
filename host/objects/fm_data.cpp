// FM_Data_*: one value of any kind.  The text that GetAsText lends is the
// data's own, kept up to date, so it stays valid as long as the data.
#include "host/values/calendar.h"
#include "api/fm_api.h"
#include "host/objects/host_errors.h"
#include "host/objects/host_objects.h"
#include "host/values/number_text.h"
#include "host/values/text_encoding.h"
#include "host/objects/data_values.h"

using namespace vesko_host;

namespace {

// Stores `units` read as a value of `kind`; answers the host error.
int16_t storeTextAs(FMData& data, std::u16string units, int32_t kind) {
  if (kind == FM_KIND_TEXT) {
    assignText(data, std::move(units));
    return kHostErrorNone;
  }
  const std::string utf8 = utf8FromUnits(units);
  std::optional<double> seconds;
  switch (kind) {
    case FM_KIND_NUMBER:
    case FM_KIND_BOOLEAN:
      assignNumber(data, numberFromText(utf8), kind);
      if (kind == FM_KIND_BOOLEAN) data.number = data.number != 0;
      return kHostErrorNone;
    case FM_KIND_DATE:
      seconds = dateFromText(utf8);
      break;
    case FM_KIND_TIME:
      seconds = timeFromText(utf8);
      break;
    case FM_KIND_TIMESTAMP:
      seconds = timestampFromText(utf8);
      break;
    default:
      return kHostErrorBadKind;
  }
  if (!seconds) return kHostErrorBadKind;
  assignNumber(data, *seconds, kind);
  return kHostErrorNone;
}

}  // namespace

extern "C" {

FMData* FM_Data_Constructor1(FMErrorRecord* e) {
  return guarded(e, static_cast<FMData*>(nullptr),
                 [] { return handOut(new FMData, Ownership::plugin); });
}

void FM_Data_Delete(FMData* d, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(d, ObjectKind::data, op, e)) return;
    noteDeleted(d);
    delete d;
  });
}

const FMText* FM_Data_GetAsText(const FMData* d, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<const FMText*>(nullptr), [&]() -> const FMText* {
    FMData* data = useHandle(d, op, e);
    if (data == nullptr) return nullptr;
    return handOut(&currentText(*data), Ownership::borrowed);
  });
}

const FMLocale* FM_Data_GetLocale(const FMData* d, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<const FMLocale*>(nullptr), [&]() -> const FMLocale* {
    return useHandle(d, op, e) == nullptr ? nullptr : hostLocale();
  });
}

int32_t FM_Data_GetNativeType(const FMData* d, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 0, [&] {
    const FMData* data = useHandle(d, op, e);
    return data == nullptr ? FM_KIND_INVALID : data->kind;
  });
}

// Kind 1 stores the text as it is; kinds 2 to 5 and 7 read the value the
// text writes (a number, "M/D/YYYY", "H:MM:SS", both), and a text that is
// no such value is refused with kHostErrorBadKind, as are kinds 0 and 6.
int16_t FM_Data_SetAsText(FMData* d, const FMText* text, const FMLocale* locale, int32_t kind,
                          FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<int16_t>(kHostErrorUnknown), [&]() -> int16_t {
    FMData* data = useHandle(d, op, e);
    const FMText* source = useHandle(text, op, e);
    if (locale != nullptr && useHandle(locale, op, e) == nullptr) return kHostErrorUnknown;
    if (data == nullptr || source == nullptr) return kHostErrorUnknown;
    return storeTextAs(*data, source->units, kind);  // a copy: the text may be the data's own
  });
}

// Kind 7 stores a boolean (any nonzero number is true); any other kind
// stores a number.
void FM_Data_SetAsNumber(FMData* d, const FMFixPt* number, int32_t kind, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMData* data = useHandle(d, op, e);
    const FMFixPt* value = useHandle(number, op, e);
    if (data == nullptr || value == nullptr) return;
    if (kind == FM_KIND_BOOLEAN) {
      assignNumber(*data, value->value != 0, FM_KIND_BOOLEAN);
    } else {
      assignNumber(*data, value->value, FM_KIND_NUMBER, value->precision);
    }
  });
}

// Kinds 3 and 4 store a date or a time; any other kind a timestamp.
void FM_Data_SetAsTimeStamp(FMData* d, const FMDateTime* when, int32_t kind, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMData* data = useHandle(d, op, e);
    const FMDateTime* moment = useHandle(when, op, e);
    if (data == nullptr || moment == nullptr) return;
    const bool dateOrTime = kind == FM_KIND_DATE || kind == FM_KIND_TIME;
    assignNumber(*data, moment->seconds, dateOrTime ? kind : FM_KIND_TIMESTAMP);
  });
}

}  // extern "C"
