// A recursive-descent parser over the tokens of calc_lexer.
#include "host/calc/calc_parser.h"

#include <algorithm>

#include "host/objects/host_errors.h"

namespace vesko_host {
namespace {

struct Parser {
  std::vector<Token> tokens;
  std::size_t at = 0;
  int depth = 0;
  CalcError* error;

  const Token& peek() const { return tokens[at]; }
  bool isOperator(std::initializer_list<Operator> ops) const {
    if (peek().type != TokenType::op) return false;
    for (Operator op : ops)
      if (peek().op == op) return true;
    return false;
  }

  std::unique_ptr<CalcNode> fail(int16_t number, std::size_t position, std::string message) {
    if (error->error == 0) *error = CalcError{number, position, std::move(message)};
    return nullptr;
  }

  // The error for a token where a value should start.
  std::unique_ptr<CalcNode> valueExpected() {
    const Token& token = peek();
    if (token.type == TokenType::end)
      return fail(kHostErrorUnexpectedEnd, token.position, "the expression ends too early");
    if (token.type == TokenType::rightParen)
      return fail(kHostErrorUnbalancedParens, token.position, "\")\" without \"(\"");
    return fail(kHostErrorValueExpected, token.position,
                "a number, text, function or \"(\" was expected");
  }

  std::unique_ptr<CalcNode> binary(Operator op, std::size_t position,
                                   std::unique_ptr<CalcNode> left,
                                   std::unique_ptr<CalcNode> right) {
    if (left == nullptr || right == nullptr) return nullptr;
    auto node = std::make_unique<CalcNode>();
    node->type = CalcNode::Type::binary;
    node->op = op;
    node->position = position;
    node->children.push_back(std::move(left));
    node->children.push_back(std::move(right));
    return measured(std::move(node));
  }

  // Sets the node's height from its children's; refuses a tree too tall.
  std::unique_ptr<CalcNode> measured(std::unique_ptr<CalcNode> node) {
    for (const auto& child : node->children)
      node->height = std::max(node->height, child->height + 1);
    if (node->height > kMaxTreeHeight)
      return fail(kHostErrorCalculation, node->position, "the expression is nested too deeply");
    return node;
  }

  // One level of left-grouping binary operators over `operand`.
  template <typename Operand>
  std::unique_ptr<CalcNode> leftGrouped(std::initializer_list<Operator> ops, Operand operand) {
    auto left = (this->*operand)();
    while (left != nullptr && isOperator(ops)) {
      const Token& token = tokens[at++];
      left = binary(token.op, token.position, std::move(left), (this->*operand)());
    }
    return left;
  }

  std::unique_ptr<CalcNode> expression() {
    if (++depth > kMaxExpressionDepth)
      return fail(kHostErrorCalculation, peek().position, "the expression is nested too deeply");
    auto node = leftGrouped({Operator::logicalOr, Operator::logicalXor}, &Parser::conjunction);
    --depth;
    return node;
  }
  std::unique_ptr<CalcNode> conjunction() {
    return leftGrouped({Operator::logicalAnd}, &Parser::negation);
  }
  std::unique_ptr<CalcNode> negation() {
    if (!isOperator({Operator::logicalNot})) return comparison();
    return unary(&Parser::negation);
  }
  std::unique_ptr<CalcNode> comparison() {
    return leftGrouped({Operator::equal, Operator::notEqual, Operator::less, Operator::greater,
                        Operator::lessEqual, Operator::greaterEqual},
                       &Parser::concatenation);
  }
  std::unique_ptr<CalcNode> concatenation() {
    return leftGrouped({Operator::concat}, &Parser::sum);
  }
  std::unique_ptr<CalcNode> sum() {
    return leftGrouped({Operator::plus, Operator::minus}, &Parser::product);
  }
  std::unique_ptr<CalcNode> product() {
    return leftGrouped({Operator::times, Operator::divide}, &Parser::power);
  }
  std::unique_ptr<CalcNode> power() { return leftGrouped({Operator::power}, &Parser::signedValue); }
  std::unique_ptr<CalcNode> signedValue() {
    if (!isOperator({Operator::plus, Operator::minus})) return primary();
    return unary(&Parser::signedValue);
  }

  // The operator at `at` applied to what `operand` reads after it.
  std::unique_ptr<CalcNode> unary(std::unique_ptr<CalcNode> (Parser::*operand)()) {
    const Token& token = tokens[at++];
    if (++depth > kMaxExpressionDepth)
      return fail(kHostErrorCalculation, token.position, "the expression is nested too deeply");
    auto child = (this->*operand)();
    --depth;
    if (child == nullptr) return nullptr;
    auto node = std::make_unique<CalcNode>();
    node->type = CalcNode::Type::unary;
    node->op = token.op;
    node->position = token.position;
    node->children.push_back(std::move(child));
    return measured(std::move(node));
  }

  std::unique_ptr<CalcNode> primary() {
    const Token& token = peek();
    auto node = std::make_unique<CalcNode>();
    node->position = token.position;
    switch (token.type) {
      case TokenType::number:
        node->value = numberValue(token.number);
        ++at;
        return node;
      case TokenType::text:
        node->value = textValue(token.text);
        ++at;
        return node;
      case TokenType::leftParen: {
        ++at;
        auto inner = expression();
        if (inner == nullptr) return nullptr;
        if (!closeParen(token.position)) return nullptr;
        return inner;
      }
      case TokenType::name:
        return call();
      default:
        return valueExpected();
    }
  }

  bool closeParen(std::size_t openedAt) {
    if (peek().type == TokenType::rightParen) {
      ++at;
      return true;
    }
    if (peek().type == TokenType::end || peek().type == TokenType::semicolon)
      fail(kHostErrorUnbalancedParens, openedAt, "\"(\" without \")\"");
    else
      fail(kHostErrorOperatorExpected, peek().position, "an operator or \")\" was expected");
    return false;
  }

  // Name, Name() or Name(p; p; ...); Get(Parameter) names its parameter.
  std::unique_ptr<CalcNode> call() {
    auto node = std::make_unique<CalcNode>();
    node->type = CalcNode::Type::call;
    node->position = peek().position;
    node->name = tokens[at++].text;
    if (peek().type != TokenType::leftParen) return node;
    const std::size_t openedAt = tokens[at++].position;
    if (isGet(node->name)) {
      if (peek().type != TokenType::name)
        return fail(kHostErrorBadGetParameter, peek().position, "Get needs a parameter name");
      node->type = CalcNode::Type::get;
      node->name = tokens[at++].text;
      if (!closeParen(openedAt)) return nullptr;
      return node;
    }
    if (peek().type == TokenType::rightParen) {
      ++at;
      return node;
    }
    for (;;) {
      auto parameter = expression();
      if (parameter == nullptr) return nullptr;
      node->children.push_back(std::move(parameter));
      if (peek().type != TokenType::semicolon) break;
      ++at;
    }
    if (!closeParen(openedAt)) return nullptr;
    return measured(std::move(node));
  }

  static bool isGet(const std::string& name) {
    return name.size() == 3 && (name[0] | 0x20) == 'g' && (name[1] | 0x20) == 'e' &&
           (name[2] | 0x20) == 't';
  }
};

}  // namespace

std::unique_ptr<CalcNode> parseCalculation(std::string_view expression, CalcError* error) {
  *error = CalcError{};
  Parser parser;
  parser.error = error;
  if (!tokenize(expression, &parser.tokens, error)) return nullptr;
  auto tree = parser.expression();
  if (tree == nullptr) return nullptr;
  const Token& rest = parser.peek();
  if (rest.type == TokenType::end) return tree;
  if (rest.type == TokenType::rightParen)
    return parser.fail(kHostErrorUnbalancedParens, rest.position, "\")\" without \"(\"");
  return parser.fail(kHostErrorOperatorExpected, rest.position, "an operator was expected");
}

}  // namespace vesko_host
