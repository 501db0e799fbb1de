// Built-ins on texts: GetAsText, GetAsNumber, Length, Left, Right, Middle,
// Upper, Lower, Char, Code.  They count characters (code points), not
// UTF-16 units, so a character outside the BMP counts once.
#include <cmath>

#include "host/calc/calc_builtins.h"
#include "host/objects/host_errors.h"
#include "host/values/letter_case.h"
#include "host/values/text_encoding.h"
#include "host/objects/data_values.h"

namespace vesko_host {
namespace {

std::u32string characters(const Value& value) {
  const std::u16string units = unitsFromUtf8(textForm(value));
  std::u32string out;
  for (std::size_t i = 0; i < units.size();) out.push_back(nextCodePoint(units, i));
  return out;
}

Value textOf(std::u32string_view characters) {
  std::string utf8;
  for (char32_t c : characters) appendUtf8(utf8, c);
  return textValue(utf8);
}

// A count parameter: its number truncated, negatives and NaN as 0, and no
// more than `limit`.
std::size_t countOf(const Value& value, std::size_t limit) {
  const double number = std::trunc(numberOf(value));
  if (!(number > 0)) return 0;
  return number >= static_cast<double>(limit) ? limit : static_cast<std::size_t>(number);
}

Value mapCase(const Value& value, char32_t (*map)(char32_t)) {
  std::u32string text = characters(value);
  for (char32_t& c : text) c = map(c);
  return textOf(text);
}

}  // namespace

int16_t builtinGetAsText(const std::vector<Value>& p, Value* result, CalcError*) {
  *result = textValue(textForm(p[0]));
  return kHostErrorNone;
}

int16_t builtinGetAsNumber(const std::vector<Value>& p, Value* result, CalcError*) {
  *result = numberValue(numberOf(p[0]));
  return kHostErrorNone;
}

int16_t builtinLength(const std::vector<Value>& p, Value* result, CalcError*) {
  *result = numberValue(static_cast<double>(characters(p[0]).size()));
  return kHostErrorNone;
}

int16_t builtinLeft(const std::vector<Value>& p, Value* result, CalcError*) {
  const std::u32string text = characters(p[0]);
  *result = textOf(std::u32string_view(text).substr(0, countOf(p[1], text.size())));
  return kHostErrorNone;
}

int16_t builtinRight(const std::vector<Value>& p, Value* result, CalcError*) {
  const std::u32string text = characters(p[0]);
  const std::size_t count = countOf(p[1], text.size());
  *result = textOf(std::u32string_view(text).substr(text.size() - count));
  return kHostErrorNone;
}

// Middle(text; start; count), start counting from 1; a start below 1 reads as 1.
int16_t builtinMiddle(const std::vector<Value>& p, Value* result, CalcError*) {
  const std::u32string text = characters(p[0]);
  const std::size_t start = std::max<std::size_t>(countOf(p[1], text.size() + 1), 1) - 1;
  *result = textOf(std::u32string_view(text).substr(start, countOf(p[2], text.size())));
  return kHostErrorNone;
}

int16_t builtinUpper(const std::vector<Value>& p, Value* result, CalcError*) {
  *result = mapCase(p[0], upperOf);
  return kHostErrorNone;
}

int16_t builtinLower(const std::vector<Value>& p, Value* result, CalcError*) {
  *result = mapCase(p[0], lowerOf);
  return kHostErrorNone;
}

// Char(n): n holds character codes in groups of five decimal digits, the
// first character in the lowest group (Char(6600065) is "AB").  Groups of
// 0 are skipped.
int16_t builtinChar(const std::vector<Value>& p, Value* result, CalcError* error) {
  const double number = std::trunc(numberOf(p[0]));
  if (!(number >= 0) || number > 9e15) {
    error->message = "Char needs a code from 0 to 9e15";
    return kHostErrorOutOfRange;
  }
  std::u32string text;
  for (auto codes = static_cast<int64_t>(number); codes > 0; codes /= 100000) {
    const auto code = static_cast<char32_t>(codes % 100000);
    if (code == 0) continue;
    if (code >= 0xD800 && code <= 0xDFFF) {
      error->message = "Char cannot make a character of the surrogate code " + std::to_string(code);
      return kHostErrorOutOfRange;
    }
    text.push_back(code);
  }
  *result = textOf(text);
  return kHostErrorNone;
}

// Code(text): the characters' codes in groups of five digits, the first in
// the lowest group, so that Char(Code(t)) is t for up to three characters
// (a double holds no more groups exactly).  The empty text gives 0.
int16_t builtinCode(const std::vector<Value>& p, Value* result, CalcError*) {
  const std::u32string text = characters(p[0]);
  double number = 0, scale = 1;
  for (char32_t c : text) {
    number += static_cast<double>(c) * scale;
    scale *= 100000;
  }
  *result = numberValue(number);
  return kHostErrorNone;
}

}  // namespace vesko_host
