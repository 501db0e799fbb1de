// Arithmetic, concatenation, comparison and logic on host values.
//
// Numbers: a date counts as its day number, a time or timestamp as its
// seconds, a text as its leading number.  Adding a number to a date, time
// or timestamp (or subtracting one from it) keeps the date-time's kind;
// subtracting two of them gives a plain number.  Comparison is by text
// when both sides are texts, and by number otherwise.  Results of tests
// are the numbers 1 and 0.
#include "host/calc/calc_operators.h"

#include <cmath>

#include "host/values/calendar.h"
#include "host/objects/data_values.h"

namespace vesko_host {
namespace {

char foldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// A date-time of `kind` from the number that numberOf gives for that kind.
Value temporalFromNumber(int kind, double number) {
  Value value;
  value.kind = kind;
  value.seconds = kind == FM_KIND_DATE ? (number - 1) * kSecondsPerDay : number;
  return value;
}

Value truth(bool test) {
  return numberValue(test ? 1 : 0);
}

Value arithmetic(Operator op, const Value& left, const Value& right) {
  const double a = numberOf(left), b = numberOf(right);
  switch (op) {
    case Operator::plus:
    case Operator::minus: {
      const double result = op == Operator::plus ? a + b : a - b;
      const bool leftTemporal = isTemporal(left.kind), rightTemporal = isTemporal(right.kind);
      if (leftTemporal && !rightTemporal) return temporalFromNumber(left.kind, result);
      if (rightTemporal && !leftTemporal && op == Operator::plus)
        return temporalFromNumber(right.kind, result);
      return numberValue(result);
    }
    case Operator::times:
      return numberValue(a * b);
    case Operator::divide:
      return numberValue(a / b);  // x/0 is infinite: its text is "?"
    default:
      return numberValue(std::pow(a, b));
  }
}

int compareValues(const Value& left, const Value& right) {
  if (left.kind == FM_KIND_TEXT && right.kind == FM_KIND_TEXT)
    return compareTexts(left.text, right.text);
  const double a = numberOf(left), b = numberOf(right);
  return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

bool isTrue(const Value& value) {
  const double number = numberOf(value);
  return number != 0 && !std::isnan(number);
}

int compareTexts(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(foldAscii(a[i]));
    const auto y = static_cast<unsigned char>(foldAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

Value applyUnary(Operator op, const Value& operand) {
  switch (op) {
    case Operator::minus:
      return numberValue(-numberOf(operand));
    case Operator::logicalNot:
      return truth(!isTrue(operand));
    default:
      return numberValue(numberOf(operand));
  }
}

Value applyBinary(Operator op, const Value& left, const Value& right) {
  switch (op) {
    case Operator::plus:
    case Operator::minus:
    case Operator::times:
    case Operator::divide:
    case Operator::power:
      return arithmetic(op, left, right);
    case Operator::concat:
      return textValue(textForm(left) + textForm(right));
    case Operator::equal:
      return truth(compareValues(left, right) == 0);
    case Operator::notEqual:
      return truth(compareValues(left, right) != 0);
    case Operator::less:
      return truth(compareValues(left, right) < 0);
    case Operator::greater:
      return truth(compareValues(left, right) > 0);
    case Operator::lessEqual:
      return truth(compareValues(left, right) <= 0);
    case Operator::greaterEqual:
      return truth(compareValues(left, right) >= 0);
    case Operator::logicalXor:
      return truth(isTrue(left) != isTrue(right));
    case Operator::logicalAnd:
      return truth(isTrue(left) && isTrue(right));
    case Operator::logicalOr:
      return truth(isTrue(left) || isTrue(right));
    case Operator::logicalNot:
      break;
  }
  return Value{};
}

}  // namespace vesko_host
