// The calculation language, step 1: splitting an expression into tokens.
#ifndef VESKO_HOST_CALC_LEXER_H
#define VESKO_HOST_CALC_LEXER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesko_host {

enum class Operator : uint8_t {
  plus,
  minus,
  times,
  divide,
  power,
  concat,
  equal,
  notEqual,
  less,
  greater,
  lessEqual,
  greaterEqual,
  logicalAnd,
  logicalOr,
  logicalXor,
  logicalNot
};

enum class TokenType : uint8_t { end, number, text, name, op, leftParen, rightParen, semicolon };

struct Token {
  TokenType type = TokenType::end;
  std::size_t position = 0;  // byte offset in the expression
  double number = 0;
  std::string text;  // a text constant's value, or a name
  Operator op = Operator::plus;
};

// Why an expression cannot be evaluated: a host error number (host_errors.h)
// and a message for people.
struct CalcError {
  int16_t error = 0;
  std::size_t position = 0;
  std::string message;
  bool external = false;  // a registered function answered the error
};

// Splits `expression` into tokens ending with one of type `end`.  Text
// constants are in double quotes with \" and \\ escapes; ¶ is a carriage
// return inside and outside them (\¶ is the pilcrow itself).  Blanks, line
// ends and // and /* */ comments separate tokens.  The words and, or, xor
// and not are operators in any letter case.
bool tokenize(std::string_view expression, std::vector<Token>* tokens, CalcError* error);

}  // namespace vesko_host

#endif
