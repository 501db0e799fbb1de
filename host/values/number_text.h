// The text form of the host's numbers, and reading a number from a text
// the way a user who typed it means it.
#ifndef VESKO_HOST_NUMBER_TEXT_H
#define VESKO_HOST_NUMBER_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace vesko_host {

constexpr int32_t kDefaultPrecision = 16;

// `value` rounded to `precision` digits after the point (half away from
// zero, on the shortest decimal that reads back as `value`), without
// trailing zeros, a trailing point or an exponent: 2 → "2", 0.1 → "0.1",
// 1e20 → "100000000000000000000", -0.5 → "-0.5".  Infinities and NaN are
// "?", as FileMaker shows a number it cannot represent.
std::string numberText(double value, int32_t precision = kDefaultPrecision);

// Reads the number a text starts with after blanks: an optional sign,
// digits with an optional point and an optional exponent ("12abc" → 12,
// "-.5" → -0.5).  A text without such a start reads as 0.
double numberFromText(std::string_view text);

// The whole text is one number literal as above (blanks around allowed).
bool isNumberText(std::string_view text);

}  // namespace vesko_host

#endif
