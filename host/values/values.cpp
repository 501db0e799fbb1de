// Host values: making them, their text forms and reading one kind as another.
#include <cmath>

#include "host/values/calendar.h"
#include "host/values/number_text.h"
#include "host/values/text_encoding.h"
#include "host/values/value_rules.h"

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

}  // namespace vesko_host
