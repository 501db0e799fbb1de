// The calculation language's operators on host values.
#ifndef VESKO_HOST_CALC_OPERATORS_H
#define VESKO_HOST_CALC_OPERATORS_H

#include "host/calc/calc_lexer.h"
#include "host/substitute_host.h"

namespace vesko_host {

// A test's truth: a nonzero number (a text reads as its leading number).
bool isTrue(const Value& value);

Value applyUnary(Operator op, const Value& operand);
// Every operator but and and or, which the evaluator cuts short.
Value applyBinary(Operator op, const Value& left, const Value& right);

// Text comparison as the host does it: ASCII letters without regard to
// case, everything else by code point.  Negative, zero or positive.
int compareTexts(std::string_view a, std::string_view b);

}  // namespace vesko_host

#endif
