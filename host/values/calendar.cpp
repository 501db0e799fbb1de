// Proleptic Gregorian dates counted in seconds from 0001-01-01 00:00:00.
#include "host/values/calendar.h"

#include <cmath>
#include <cstdio>

namespace vesko_host {
namespace {

constexpr int64_t floorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days from 1970-01-01 to y-m-d, m in 1..12 (H. Hinnant's algorithm).
constexpr int64_t daysFrom1970(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = floorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr int64_t kDaysBeforeYear1 = daysFrom1970(1, 1, 1);

// A count of seconds split into whole seconds and microseconds, the
// precision the text forms show; nothing when it is too large to show.
struct SplitSeconds {
  int64_t whole;
  int64_t micros;
};
std::optional<SplitSeconds> splitSeconds(double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) return std::nullopt;
  double whole = std::floor(seconds);
  int64_t micros = std::llround((seconds - whole) * 1e6);
  if (micros >= 1000000) {
    whole += 1;
    micros -= 1000000;
  }
  return SplitSeconds{static_cast<int64_t>(whole), micros};
}

std::string clockText(int64_t hours, int64_t minutes, int64_t seconds, int64_t micros,
                      bool padHours = false) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, padHours ? "%02lld:%02lld:%02lld" : "%lld:%02lld:%02lld",
                static_cast<long long>(hours), static_cast<long long>(minutes),
                static_cast<long long>(seconds));
  std::string text = buffer;
  if (micros > 0) {
    std::snprintf(buffer, sizeof buffer, ".%06lld", static_cast<long long>(micros));
    std::string fraction = buffer;
    while (fraction.back() == '0') fraction.pop_back();
    text += fraction;
  }
  return text;
}

std::string civilText(const CivilDate& date) {
  if (date.year < 1 || date.year > 9999) return "?";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%lld/%lld/%04lld", static_cast<long long>(date.month),
                static_cast<long long>(date.day), static_cast<long long>(date.year));
  return buffer;
}

int64_t daysInMonth(int64_t year, int64_t month) {
  return daysFromCivil(year, month + 1, 1) - daysFromCivil(year, month, 1);
}

// A small reader for the text forms: unsigned numbers and single characters.
struct Reader {
  std::string_view text;
  std::size_t at = 0;

  void skipBlanks() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  }
  bool done() const { return at == text.size(); }
  bool take(char c) {
    if (at == text.size() || text[at] != c) return false;
    ++at;
    return true;
  }
  std::optional<int64_t> number(std::size_t maxDigits) {
    const std::size_t start = at;
    int64_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < maxDigits)
      value = value * 10 + (text[at++] - '0');
    if (at == start) return std::nullopt;
    return value;
  }
};

std::optional<double> readDate(Reader& in) {
  const auto month = in.number(2);
  if (!month || !in.take('/')) return std::nullopt;
  const auto day = in.number(2);
  if (!day || !in.take('/')) return std::nullopt;
  const auto year = in.number(4);
  if (!year || *month < 1 || *month > 12 || *year < kFirstYear || *year > kLastYear || *day < 1 ||
      *day > daysInMonth(*year, *month))
    return std::nullopt;
  return dateSeconds(*year, *month, *day);
}

std::optional<double> readTime(Reader& in) {
  const auto hours = in.number(9);
  if (!hours || !in.take(':')) return std::nullopt;
  const auto minutes = in.number(2);
  if (!minutes || *minutes > 59) return std::nullopt;
  double seconds = 0;
  if (in.take(':')) {
    const auto whole = in.number(2);
    if (!whole || *whole > 59) return std::nullopt;
    seconds = static_cast<double>(*whole);
    if (in.take('.')) {
      double scale = 0.1;
      while (!in.done() && in.text[in.at] >= '0' && in.text[in.at] <= '9') {
        seconds += scale * (in.text[in.at++] - '0');
        scale /= 10;
      }
    }
  }
  return static_cast<double>(*hours * 3600 + *minutes * 60) + seconds;
}

}  // namespace

int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  year += floorDiv(month - 1, 12);
  month = month - 1 - floorDiv(month - 1, 12) * 12 + 1;
  return daysFrom1970(year, month, 1) - kDaysBeforeYear1 + (day - 1);
}

double dateSeconds(int64_t year, int64_t month, int64_t day) {
  return static_cast<double>(daysFromCivil(year, month, day)) * kSecondsPerDay;
}

CivilDate civilFromDays(int64_t days) {
  const int64_t z = days + kDaysBeforeYear1 + 719468;
  const int64_t era = floorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  return CivilDate{yoe + era * 400 + (month <= 2), month, day};
}

CivilDate civilFromSeconds(double seconds) {
  const auto split = splitSeconds(seconds);
  if (!split) return CivilDate{0, 1, 1};
  return civilFromDays(floorDiv(split->whole, 86400));
}

std::string dateText(double seconds) {
  if (!splitSeconds(seconds)) return "?";
  return civilText(civilFromSeconds(seconds));
}

std::string timeText(double seconds) {
  const auto split = splitSeconds(std::fabs(seconds));
  if (!split) return "?";
  const int64_t whole = split->whole;
  const std::string text = clockText(whole / 3600, whole / 60 % 60, whole % 60, split->micros);
  return seconds < 0 && (whole > 0 || split->micros > 0) ? "-" + text : text;
}

std::string timestampText(double seconds) {
  const auto split = splitSeconds(seconds);
  if (!split) return "?";
  const int64_t days = floorDiv(split->whole, 86400);
  const int64_t ofDay = split->whole - days * 86400;
  const std::string date = civilText(civilFromDays(days));
  if (date == "?") return date;
  return date + " " + clockText(ofDay / 3600, ofDay / 60 % 60, ofDay % 60, split->micros);
}

std::string isoDateText(double seconds) {
  if (!splitSeconds(seconds)) return "?";
  const CivilDate date = civilFromSeconds(seconds);
  if (date.year < 1 || date.year > 9999) return "?";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", static_cast<long long>(date.year),
                static_cast<long long>(date.month), static_cast<long long>(date.day));
  return buffer;
}

std::string isoTimeText(double seconds) {
  const auto split = splitSeconds(std::fabs(seconds));
  if (!split) return "?";
  const int64_t whole = split->whole;
  const std::string text =
      clockText(whole / 3600, whole / 60 % 60, whole % 60, split->micros, true);
  return seconds < 0 && (whole > 0 || split->micros > 0) ? "-" + text : text;
}

std::string isoTimestampText(double seconds) {
  const auto split = splitSeconds(seconds);
  const std::string date = isoDateText(seconds);
  if (date == "?") return date;
  const int64_t ofDay = split->whole - floorDiv(split->whole, 86400) * 86400;
  return date + " " + clockText(ofDay / 3600, ofDay / 60 % 60, ofDay % 60, split->micros, true);
}

std::optional<double> dateFromText(std::string_view text) {
  Reader in{text};
  in.skipBlanks();
  const auto seconds = readDate(in);
  in.skipBlanks();
  if (!seconds || !in.done()) return std::nullopt;
  return seconds;
}

std::optional<double> timeFromText(std::string_view text) {
  Reader in{text};
  in.skipBlanks();
  const auto seconds = readTime(in);
  in.skipBlanks();
  if (!seconds || !in.done()) return std::nullopt;
  return seconds;
}

std::optional<double> timestampFromText(std::string_view text) {
  Reader in{text};
  in.skipBlanks();
  const auto date = readDate(in);
  if (!date) return std::nullopt;
  in.skipBlanks();
  const auto time = readTime(in);
  in.skipBlanks();
  if (!time || !in.done() || *time >= kSecondsPerDay) return std::nullopt;
  return *date + *time;
}

}  // namespace vesko_host
