// The host's calendar: seconds since 0001-01-01 00:00:00 in the proleptic
// Gregorian calendar, with no time zone, and the text forms of dates,
// times and timestamps.
#ifndef VESKO_HOST_CALENDAR_H
#define VESKO_HOST_CALENDAR_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesko_host {

constexpr double kSecondsPerDay = 86400;

// Days from 0001-01-01 to the given day.  Months and days outside their
// ranges carry over as on a calendar: month 13 is January of the next year,
// day 0 the last day of the month before.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day);
double dateSeconds(int64_t year, int64_t month, int64_t day);

struct CivilDate {
  int64_t year, month, day;
};
CivilDate civilFromDays(int64_t days);
CivilDate civilFromSeconds(double seconds);

// "M/D/YYYY", "H:MM:SS" (with ".5" for fractions, hours beyond 24 kept) and
// "M/D/YYYY H:MM:SS".  A time is the seconds it counts, not a time of day.
std::string dateText(double seconds);
std::string timeText(double seconds);
std::string timestampText(double seconds);

// "YYYY-MM-DD", "HH:MM:SS" and "YYYY-MM-DD HH:MM:SS" (fractions as
// above): the forms SQLite's date and time functions read and sort.
std::string isoDateText(double seconds);
std::string isoTimeText(double seconds);
std::string isoTimestampText(double seconds);

// Reads the text forms above back ("12/8/2026", "9:05", "9:05:30.25",
// "12/8/2026 9:05:00"); nothing when the text is not one of them.
std::optional<double> dateFromText(std::string_view text);
std::optional<double> timeFromText(std::string_view text);
std::optional<double> timestampFromText(std::string_view text);

// The years a date value may have, as in FileMaker.
constexpr int64_t kFirstYear = 1, kLastYear = 4000;

}  // namespace vesko_host

#endif
