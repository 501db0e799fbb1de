// Built-ins that make dates and times: Date, Time, Timestamp.
#include <cmath>

#include "host/calc/calc_builtins.h"
#include "host/values/calendar.h"
#include "host/objects/host_errors.h"
#include "host/objects/data_values.h"

namespace vesko_host {
namespace {

// Parameters beyond this make no date of years 1 to 4000 in any combination.
constexpr double kLargestPart = 1e9;

bool inDateRange(double seconds) {
  if (!std::isfinite(seconds)) return false;
  const int64_t year = civilFromSeconds(seconds).year;
  return year >= kFirstYear && year <= kLastYear;
}

int16_t outOfRange(CalcError* error, const char* function) {
  error->message = std::string(function) + " gives a date outside the years 1 to 4000";
  return kHostErrorOutOfRange;
}

// The day a Timestamp's first parameter names, in seconds at its midnight.
std::optional<double> dayOf(const Value& value) {
  if (value.kind == FM_KIND_NUMBER) return (std::floor(value.number) - 1) * kSecondsPerDay;
  const auto seconds = secondsOf(value);
  if (!seconds || value.kind == FM_KIND_TIME) return std::nullopt;
  return std::floor(*seconds / kSecondsPerDay) * kSecondsPerDay;
}

// The time of day a Timestamp's second parameter names, in seconds.
std::optional<double> timeOf(const Value& value) {
  if (value.kind == FM_KIND_NUMBER || value.kind == FM_KIND_TIME) return numberOf(value);
  if (value.kind == FM_KIND_TIMESTAMP) return std::fmod(value.seconds, kSecondsPerDay);
  if (value.kind == FM_KIND_TEXT) return timeFromText(value.text);
  return std::nullopt;
}

}  // namespace

// Date(month; day; year): months and days beyond their ranges carry over,
// as Date(13; 1; 2025) is 1/1/2026 and Date(3; 0; 2024) is 2/29/2024.
int16_t builtinDate(const std::vector<Value>& p, Value* result, CalcError* error) {
  const double month = std::trunc(numberOf(p[0])), day = std::trunc(numberOf(p[1])),
               year = std::trunc(numberOf(p[2]));
  for (double part : {month, day, year})
    if (!(std::fabs(part) <= kLargestPart)) return outOfRange(error, "Date");
  const double seconds = dateSeconds(static_cast<int64_t>(year), static_cast<int64_t>(month),
                                     static_cast<int64_t>(day));
  if (!inDateRange(seconds)) return outOfRange(error, "Date");
  result->kind = FM_KIND_DATE;
  result->seconds = seconds;
  return kHostErrorNone;
}

// Time(hours; minutes; seconds): a duration, so 25 hours or a negative
// time are kept as they are; fractions of seconds are kept.
int16_t builtinTime(const std::vector<Value>& p, Value* result, CalcError* error) {
  const double seconds = numberOf(p[0]) * 3600 + numberOf(p[1]) * 60 + numberOf(p[2]);
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) {
    error->message = "Time is out of range";
    return kHostErrorOutOfRange;
  }
  result->kind = FM_KIND_TIME;
  result->seconds = seconds;
  return kHostErrorNone;
}

// Timestamp(date; time): the date may be a date, a timestamp, a day number
// or a date text; the time a time, a number of seconds or a time text.
int16_t builtinTimestamp(const std::vector<Value>& p, Value* result, CalcError* error) {
  const auto day = dayOf(p[0]);
  const auto time = timeOf(p[1]);
  if (!day || !time) {
    error->message = !day ? "Timestamp needs a date first" : "Timestamp needs a time second";
    return kHostErrorOutOfRange;
  }
  const double seconds = *day + *time;
  if (!inDateRange(seconds)) return outOfRange(error, "Timestamp");
  result->kind = FM_KIND_TIMESTAMP;
  result->seconds = seconds;
  return kHostErrorNone;
}

}  // namespace vesko_host
