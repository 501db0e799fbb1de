// The value an FMData holds, and storing one into it.
#include "host/objects/data_values.h"

#include "host/values/calendar.h"
#include "host/values/number_text.h"
#include "host/values/text_encoding.h"

namespace vesko_host {

Value valueOf(const FMData& data) {
  Value value;
  value.kind = data.kind;
  if (data.kind == FM_KIND_TEXT) {
    value.text = utf8FromUnits(data.text.units);
  } else if (isTemporal(data.kind)) {
    value.seconds = data.number;
  } else if (data.kind == FM_KIND_NUMBER && data.precision != kDefaultPrecision) {
    value.number = numberFromText(numberText(data.number, data.precision));
  } else {
    value.number = data.number;
  }
  return value;
}

void assignText(FMData& data, std::u16string units) {
  data.kind = FM_KIND_TEXT;
  data.precision = kDefaultPrecision;
  data.number = 0;
  data.text.units = std::move(units);
  data.textIsCurrent = true;
}

void assignNumber(FMData& data, double number, int kind, int32_t precision) {
  data.kind = kind;
  data.number = number;
  data.precision = precision;
  data.textIsCurrent = false;
}

void copyValue(FMData& data, const FMData& from) {
  if (&data == &from) return;
  data.kind = from.kind;
  data.precision = from.precision;
  data.number = from.number;
  data.text.units = from.text.units;
  data.textIsCurrent = from.textIsCurrent;
}

void assignValue(FMData& data, const Value& value) {
  if (value.kind == FM_KIND_TEXT) {
    assignText(data, unitsFromUtf8(value.text));
  } else if (isTemporal(value.kind)) {
    assignNumber(data, value.seconds, value.kind);
  } else {
    assignNumber(data, value.number, value.kind);
  }
  if (value.kind == FM_KIND_INVALID || value.kind == FM_KIND_CONTAINER) {
    data.text.units.clear();
    data.textIsCurrent = true;
  }
}

FMText& currentText(FMData& data) {
  if (!data.textIsCurrent) {
    const bool number = data.kind == FM_KIND_NUMBER;
    data.text.units =
        unitsFromUtf8(number ? numberText(data.number, data.precision) : textForm(valueOf(data)));
    data.textIsCurrent = true;
  }
  return data.text;
}

FMLocale* hostLocale() {
  static auto* locale = new FMLocale;  // lives as long as the process
  return handOut(locale, Ownership::host);
}

}  // namespace vesko_host
