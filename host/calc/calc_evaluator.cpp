// Walks the tree of calc_parser.  Parameters are evaluated left to right,
// If evaluates only the branch it takes, and "and"/"or" stop as soon as
// the answer is known, so a plug-in function in a branch not taken is not
// called.
#include "host/calc/calc_evaluator.h"

#include "host/calc/calc_builtins.h"
#include "host/calc/calc_operators.h"
#include "host/calc/calc_parser.h"
#include "host/plugins/calculations.h"
#include "host/plugins/external_calls.h"
#include "host/objects/host_errors.h"

namespace vesko_host {
namespace {

int16_t evaluateNode(const CalcNode& node, Value* out, CalcError* error);

int16_t fail(CalcError* error, int16_t number, const CalcNode& node, std::string message) {
  error->error = number;
  error->position = node.position;
  if (error->message.empty()) error->message = std::move(message);
  return number;
}

int16_t countError(CalcError* error, int16_t number, const CalcNode& node) {
  return fail(error, number, node,
              std::string(number == kHostErrorTooFewParameters ? "too few" : "too many") +
                  " parameters for " + node.name);
}

int16_t evaluateParameters(const CalcNode& node, std::vector<Value>* values, CalcError* error) {
  values->resize(node.children.size());
  for (std::size_t i = 0; i < node.children.size(); ++i)
    if (const int16_t failed = evaluateNode(*node.children[i], &(*values)[i], error)) return failed;
  return kHostErrorNone;
}

int16_t evaluateIf(const CalcNode& node, Value* out, CalcError* error) {
  Value test;
  if (const int16_t failed = evaluateNode(*node.children[0], &test, error)) return failed;
  return evaluateNode(*node.children[isTrue(test) ? 1 : 2], out, error);
}

int16_t evaluateCall(const CalcNode& node, Value* out, CalcError* error) {
  std::vector<Value> parameters;
  if (const Builtin* builtin = findBuiltin(node.name)) {
    const int16_t counted =
        checkParameterCount(node.children.size(), builtin->minParameters, builtin->maxParameters);
    if (counted != kHostErrorNone) return countError(error, counted, node);
    if (builtin->body == nullptr) return evaluateIf(node, out, error);
    if (const int16_t failed = evaluateParameters(node, &parameters, error)) return failed;
    const int16_t failed = builtin->body(parameters, out, error);
    return failed == kHostErrorNone ? failed : fail(error, failed, node, node.name + " failed");
  }
  // A copy: a parameter, or another thread, may unregister it.
  const std::optional<ExternalFunction> found = findExternalFunction(node.name);
  if (!found) return fail(error, kHostErrorUnknownFunction, node, "unknown function " + node.name);
  const ExternalFunction& function = *found;
  const int16_t counted =
      checkParameterCount(node.children.size(), function.minParameters, function.maxParameters);
  if (counted != kHostErrorNone) return countError(error, counted, node);
  if (const int16_t failed = evaluateParameters(node, &parameters, error)) return failed;
  const int16_t answered = callRegisteredFunction(function, parameters, out);
  if (answered == kHostErrorNone) return answered;
  error->external = true;
  return fail(error, answered, node,
              function.name + " answered host error " + std::to_string(answered));
}

int16_t evaluateNode(const CalcNode& node, Value* out, CalcError* error) {
  switch (node.type) {
    case CalcNode::Type::literal:
      *out = node.value;
      return kHostErrorNone;
    case CalcNode::Type::call:
      return evaluateCall(node, out, error);
    case CalcNode::Type::get: {
      const int16_t failed = getParameter(node.name, out, error);
      return failed == kHostErrorNone ? failed : fail(error, failed, node, "");
    }
    case CalcNode::Type::unary: {
      Value operand;
      if (const int16_t failed = evaluateNode(*node.children[0], &operand, error)) return failed;
      *out = applyUnary(node.op, operand);
      return kHostErrorNone;
    }
    case CalcNode::Type::binary:
      break;
  }
  Value left, right;
  if (const int16_t failed = evaluateNode(*node.children[0], &left, error)) return failed;
  if (node.op == Operator::logicalAnd || node.op == Operator::logicalOr) {
    const bool decided = isTrue(left) == (node.op == Operator::logicalOr);
    if (decided) {
      *out = numberValue(node.op == Operator::logicalOr ? 1 : 0);
      return kHostErrorNone;
    }
  }
  if (const int16_t failed = evaluateNode(*node.children[1], &right, error)) return failed;
  *out = applyBinary(node.op, left, right);
  return kHostErrorNone;
}

int16_t tooDeep(CalcError* error) {
  error->error = kHostErrorCalculation;
  error->message = "calculations nested too deeply";
  return error->error;
}

}  // namespace

int16_t evaluateCalculation(std::string_view expression, Value* result, CalcError* error) {
  *error = CalcError{};
  CalculationScope scope;
  if (scope.tooDeep) return tooDeep(error);
  {
    // The parse needs its levels only while it runs.
    const LevelReservation parsing(kLevelsOfAParse);
    if (parsing.refused) return tooDeep(error);
  }
  const auto tree = parseCalculation(expression, error);
  if (tree == nullptr) return error->error;
  const LevelReservation evaluating(static_cast<std::size_t>(tree->height));
  if (evaluating.refused) return tooDeep(error);
  Value value;
  if (const int16_t failed = evaluateNode(*tree, &value, error)) return failed;
  *result = std::move(value);
  return kHostErrorNone;
}

int16_t evaluate(std::string_view expression, Value* result) {
  CalcError error;
  return evaluateCalculation(expression, result, &error);
}

int16_t evaluate(std::string_view expression, Value* result, EvaluationFailure* failure) {
  CalcError error;
  const int16_t answer = evaluateCalculation(expression, result, &error);
  if (answer != kHostErrorNone && failure != nullptr) {
    failure->external = error.external;
    failure->message = error.message.empty() ? hostErrorText(answer) : error.message;
    if (isMalformedExpressionError(answer))
      failure->message += " at character " + std::to_string(error.position + 1);
  }
  return answer;
}

}  // namespace vesko_host
