// Host values: making them, their text forms and reading one kind as another.
#include <cmath>

#include "host/calendar.h"
#include "host/number_text.h"
#include "host/text_encoding.h"
#include "host/value_rules.h"

namespace vesko_host {

Value textValue(std::string_view utf8) {
  Value value;
  value.kind = FM_KIND_TEXT;
  value.text = std::string(utf8);
  return value;
}

Value numberValue(double number) {
  Value value;
  value.kind = FM_KIND_NUMBER;
  value.number = number;
  return value;
}

Value dateValue(int year, int month, int day) {
  Value value;
  value.kind = FM_KIND_DATE;
  value.seconds = dateSeconds(year, month, day);
  return value;
}

Value timeValue(int hours, int minutes, double seconds) {
  Value value;
  value.kind = FM_KIND_TIME;
  value.seconds = hours * 3600.0 + minutes * 60.0 + seconds;
  return value;
}

Value timestampValue(int year, int month, int day, int hours, int minutes, double seconds) {
  Value value;
  value.kind = FM_KIND_TIMESTAMP;
  value.seconds = dateSeconds(year, month, day) + hours * 3600.0 + minutes * 60.0 + seconds;
  return value;
}

Value containerValue() {
  Value value;
  value.kind = FM_KIND_CONTAINER;
  return value;
}

Value booleanValue(bool truth) {
  Value value;
  value.kind = FM_KIND_BOOLEAN;
  value.number = truth ? 1 : 0;
  return value;
}

std::string textForm(const Value& value) {
  switch (value.kind) {
    case FM_KIND_TEXT:
      return value.text;
    case FM_KIND_NUMBER:
      return numberText(value.number);
    case FM_KIND_DATE:
      return dateText(value.seconds);
    case FM_KIND_TIME:
      return timeText(value.seconds);
    case FM_KIND_TIMESTAMP:
      return timestampText(value.seconds);
    case FM_KIND_BOOLEAN:
      return value.number != 0 ? "1" : "0";
    default:
      return "";  // invalid and container values show nothing
  }
}

bool isTemporal(int kind) {
  return kind == FM_KIND_DATE || kind == FM_KIND_TIME || kind == FM_KIND_TIMESTAMP;
}

double numberOf(const Value& value) {
  switch (value.kind) {
    case FM_KIND_TEXT:
      return numberFromText(value.text);
    case FM_KIND_NUMBER:
    case FM_KIND_BOOLEAN:
      return value.number;
    case FM_KIND_DATE:
      return std::floor(value.seconds / kSecondsPerDay) + 1;
    case FM_KIND_TIME:
    case FM_KIND_TIMESTAMP:
      return value.seconds;
    default:
      return 0;
  }
}

std::optional<double> secondsOf(const Value& value) {
  if (isTemporal(value.kind)) return value.seconds;
  if (value.kind == FM_KIND_NUMBER) return value.number;
  if (value.kind != FM_KIND_TEXT) return std::nullopt;
  if (auto seconds = timestampFromText(value.text)) return seconds;
  if (auto seconds = dateFromText(value.text)) return seconds;
  return timeFromText(value.text);
}

// --- FMData ------------------------------------------------------------------

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
