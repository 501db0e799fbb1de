// The calculation language, step 2: the tree of an expression.
#ifndef VESKO_HOST_CALC_PARSER_H
#define VESKO_HOST_CALC_PARSER_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/calc/calc_lexer.h"
#include "host/substitute_host.h"

namespace vesko_host {

struct CalcNode {
  enum class Type : uint8_t { literal, call, get, unary, binary };
  Type type = Type::literal;
  std::size_t position = 0;
  Value value;       // literal
  std::string name;  // call: the function; get: the parameter of Get(...)
  Operator op = Operator::plus;
  std::vector<std::unique_ptr<CalcNode>> children;  // call parameters, operands
  int height = 1;  // of the subtree: evaluating it recurses this deep
};

// Deeper nesting of parentheses and operators, and taller trees (a chain
// of 1+1+1... is as tall as it is long), are refused, so that neither
// parsing nor evaluating can exhaust the stack.
constexpr int kMaxExpressionDepth = 200;
constexpr int kMaxTreeHeight = 2000;

// The tree of `expression`, or nullptr with *error set.  Operators bind, from
// loosest to tightest: or xor; and; not; = <> ≠ < > <= ≤ >= ≥; &; + -;
// * /; ^; a sign.  Operators of one level group from the left.
std::unique_ptr<CalcNode> parseCalculation(std::string_view expression, CalcError* error);

}  // namespace vesko_host

#endif
