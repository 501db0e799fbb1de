// Number text forms: decimal digits, never an exponent.
#include "host/values/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vesko_host {
namespace {

// Rounds the decimal digits in `digits` (no sign) to `precision` places
// after the point, half away from zero; the carry may add a leading digit.
void roundDecimal(std::string& digits, int32_t precision) {
  const std::size_t point = digits.find('.');
  if (point == std::string::npos) return;
  const std::size_t keep = point + 1 + static_cast<std::size_t>(precision);
  if (digits.size() <= keep) return;
  const bool up = digits[keep] >= '5';
  digits.resize(keep);
  if (!up) return;
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] == '.') continue;
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

void stripTrailingZeros(std::string& digits) {
  if (digits.find('.') == std::string::npos) return;
  while (digits.back() == '0') digits.pop_back();
  if (digits.back() == '.') digits.pop_back();
}

// The length of the number literal at the start of `text` (after blanks),
// 0 when there is none; *start receives where it begins.
std::size_t literalLength(std::string_view text, std::size_t* start) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  *start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  auto isDigit = [&](std::size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
  std::size_t digits = 0;
  while (isDigit(i)) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (isDigit(i)) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t k = i + 1;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
    if (isDigit(k)) {
      while (isDigit(k)) ++k;
      i = k;
    }
  }
  return i - *start;
}

}  // namespace

std::string numberText(double value, int32_t precision) {
  if (!std::isfinite(value)) return "?";
  precision = std::clamp(precision, 0, 400);
  char buffer[400];  // fixed notation of the largest double: 309 digits
  const auto [end, status] =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
  if (status != std::errc()) return "?";
  std::string digits(buffer, end);
  roundDecimal(digits, precision);
  stripTrailingZeros(digits);
  const bool zero = std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0'; });
  if (zero) return "0";
  return value < 0 ? "-" + digits : digits;
}

double numberFromText(std::string_view text) {
  std::size_t start = 0;
  const std::size_t length = literalLength(text, &start);
  if (length == 0) return 0;
  std::string_view literal = text.substr(start, length);
  bool negative = false;
  if (literal[0] == '+' || literal[0] == '-') {
    negative = literal[0] == '-';
    literal.remove_prefix(1);
  }
  double value = 0;
  const auto [end, status] =
      std::from_chars(literal.data(), literal.data() + literal.size(), value);
  (void)end;
  if (status == std::errc::result_out_of_range) {
    // Too large or too small for a double: the exponent's sign tells which.
    const bool tiny = literal.find("e-") != std::string_view::npos ||
                      literal.find("E-") != std::string_view::npos;
    value = tiny ? 0.0 : HUGE_VAL;
  }
  return negative ? -value : value;
}

bool isNumberText(std::string_view text) {
  std::size_t start = 0;
  const std::size_t length = literalLength(text, &start);
  if (length == 0) return false;
  std::size_t i = start + length;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i == text.size();
}

}  // namespace vesko_host
