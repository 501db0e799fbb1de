// Tokens of the calculation language.
#include "host/calc/calc_lexer.h"

#include <charconv>

#include "host/objects/host_errors.h"

namespace vesko_host {
namespace {

constexpr std::string_view kPilcrow = "\xC2\xB6";
constexpr std::string_view kNotEqualSign = "\xE2\x89\xA0";
constexpr std::string_view kLessEqualSign = "\xE2\x89\xA4";
constexpr std::string_view kGreaterEqualSign = "\xE2\x89\xA5";

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isNamePart(char c) {
  return isNameStart(c) || isDigit(c) || c == '.';
}

bool fail(CalcError* error, int16_t number, std::size_t position, std::string message) {
  *error = CalcError{number, position, std::move(message)};
  return false;
}

// Reads the text constant whose opening quote is at `at`; leaves `at` after
// its closing quote.
bool readText(std::string_view s, std::size_t& at, Token& token, CalcError* error) {
  const std::size_t start = at++;
  for (;;) {
    if (at >= s.size())
      return fail(error, kHostErrorUnendedText, start, "text constant without its closing quote");
    const char c = s[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\' && at + 1 < s.size() && (s[at + 1] == '"' || s[at + 1] == '\\')) {
      token.text += s[at + 1];
      at += 2;
    } else if (c == '\\' && s.substr(at + 1, kPilcrow.size()) == kPilcrow) {
      token.text += kPilcrow;
      at += 1 + kPilcrow.size();
    } else if (s.substr(at, kPilcrow.size()) == kPilcrow) {
      token.text += '\r';
      at += kPilcrow.size();
    } else {
      token.text += c;  // any other backslash stands for itself
      ++at;
    }
  }
}

bool readNumber(std::string_view s, std::size_t& at, Token& token, CalcError* error) {
  const std::size_t start = at;
  while (at < s.size() && isDigit(s[at])) ++at;
  if (at < s.size() && s[at] == '.') {
    ++at;
    while (at < s.size() && isDigit(s[at])) ++at;
  }
  if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
    std::size_t k = at + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    if (k < s.size() && isDigit(s[k])) {
      while (k < s.size() && isDigit(s[k])) ++k;
      at = k;
    }
  }
  const auto result = std::from_chars(s.data() + start, s.data() + at, token.number);
  if (at == start + 1 && s[start] == '.')
    return fail(error, kHostErrorValueExpected, start, "a lone \".\" is not a number");
  if (result.ec == std::errc::result_out_of_range)
    return fail(error, kHostErrorOutOfRange, start, "number out of range");
  return true;
}

// Operators written with symbols; answers their length, 0 if none is at `at`.
std::size_t readSymbol(std::string_view s, std::size_t at, Token& token) {
  struct Symbol {
    std::string_view spelling;
    Operator op;
  };
  static constexpr Symbol symbols[] = {{"<>", Operator::notEqual},
                                       {"<=", Operator::lessEqual},
                                       {">=", Operator::greaterEqual},
                                       {kNotEqualSign, Operator::notEqual},
                                       {kLessEqualSign, Operator::lessEqual},
                                       {kGreaterEqualSign, Operator::greaterEqual},
                                       {"+", Operator::plus},
                                       {"-", Operator::minus},
                                       {"*", Operator::times},
                                       {"/", Operator::divide},
                                       {"^", Operator::power},
                                       {"&", Operator::concat},
                                       {"=", Operator::equal},
                                       {"<", Operator::less},
                                       {">", Operator::greater}};
  for (const Symbol& symbol : symbols) {
    if (s.substr(at, symbol.spelling.size()) == symbol.spelling) {
      token.type = TokenType::op;
      token.op = symbol.op;
      return symbol.spelling.size();
    }
  }
  return 0;
}

bool equalsFolded(std::string_view word, std::string_view lower) {
  if (word.size() != lower.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i] >= 'A' && word[i] <= 'Z' ? static_cast<char>(word[i] + 32) : word[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// The word operators and, or, xor, not.
void classifyWord(Token& token) {
  static constexpr std::pair<std::string_view, Operator> words[] = {{"and", Operator::logicalAnd},
                                                                    {"or", Operator::logicalOr},
                                                                    {"xor", Operator::logicalXor},
                                                                    {"not", Operator::logicalNot}};
  for (const auto& [word, op] : words) {
    if (equalsFolded(token.text, word)) {
      token.type = TokenType::op;
      token.op = op;
      return;
    }
  }
}

// Skips blanks and comments; fails on a comment without its end.
bool skipSpace(std::string_view s, std::size_t& at, CalcError* error) {
  for (;;) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n')) ++at;
    if (s.substr(at, 2) == "//") {
      while (at < s.size() && s[at] != '\n' && s[at] != '\r') ++at;
    } else if (s.substr(at, 2) == "/*") {
      const std::size_t end = s.find("*/", at + 2);
      if (end == std::string_view::npos)
        return fail(error, kHostErrorUnendedComment, at, "comment without its closing */");
      at = end + 2;
    } else {
      return true;
    }
  }
}

}  // namespace

bool tokenize(std::string_view s, std::vector<Token>* tokens, CalcError* error) {
  std::size_t at = 0;
  for (;;) {
    if (!skipSpace(s, at, error)) return false;
    Token token;
    token.position = at;
    if (at == s.size()) {
      tokens->push_back(std::move(token));
      return true;
    }
    const char c = s[at];
    if (c == '"') {
      token.type = TokenType::text;
      if (!readText(s, at, token, error)) return false;
    } else if (isDigit(c) || (c == '.' && at + 1 < s.size() && isDigit(s[at + 1]))) {
      token.type = TokenType::number;
      if (!readNumber(s, at, token, error)) return false;
    } else if (isNameStart(c)) {
      const std::size_t start = at;
      while (at < s.size() && isNamePart(s[at])) ++at;
      token.type = TokenType::name;
      token.text = std::string(s.substr(start, at - start));
      classifyWord(token);
    } else if (s.substr(at, kPilcrow.size()) == kPilcrow) {
      token.type = TokenType::text;
      token.text = "\r";
      at += kPilcrow.size();
    } else if (c == '(' || c == ')' || c == ';') {
      token.type = c == '('   ? TokenType::leftParen
                   : c == ')' ? TokenType::rightParen
                              : TokenType::semicolon;
      ++at;
    } else if (const std::size_t length = readSymbol(s, at, token); length > 0) {
      at += length;
    } else {
      std::size_t width = 1;  // the whole character, for the message
      while (at + width < s.size() && (s[at + width] & 0xC0) == 0x80) ++width;
      return fail(error, kHostErrorValueExpected, at,
                  "unexpected character \"" + std::string(s.substr(at, width)) + "\"");
    }
    tokens->push_back(std::move(token));
  }
}

}  // namespace vesko_host
