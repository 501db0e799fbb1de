#include "host/cli/calc_outcome.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <unistd.h>

#include "host/cli/calc_options.h"
#include "host/objects/host_errors.h"
#include "host/substitute_host.h"

namespace vesko_host {
namespace {

// The error record of a plug-in that keeps one, read without changing it.
bool pluginError(int* code, std::string* message) {
  if (!isRegistered("Vesko_LastError")) return false;
  Value number, text;
  if (callExternal("Vesko_LastError", {textValue("number")}, &number) != kHostErrorNone ||
      callExternal("Vesko_LastError", {textValue("message")}, &text) != kHostErrorNone)
    return false;
  const std::string digits = textForm(number);
  char* end = nullptr;
  const long parsed = std::strtol(digits.c_str(), &end, 10);
  if (digits.empty() || *end != '\0' || parsed == 0) return false;
  *code = static_cast<int>(parsed);
  *message = textForm(text);
  return true;
}

void appendJsonString(std::string* out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  *out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        *out += "\\\"";
        break;
      case '\\':
        *out += "\\\\";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          *out += "\\u00";
          *out += kHex[byte >> 4];
          *out += kHex[byte & 15];
        } else {
          *out += c;
        }
    }
  }
  *out += '"';
}

}  // namespace

// Results go to the C library's standard output, the stream a script's
// print writes to as well, so the two keep their order.  Piped, it is
// flushed only when full or at the end; at a terminal after each result.
void printLine(std::string_view text) {
  static const bool terminal = isatty(STDOUT_FILENO) != 0;
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  if (terminal) std::fflush(stdout);
}

bool outputFailed() {
  return std::ferror(stdout) != 0;
}

CalcOutcome calculate(const std::string& expression) {
  CalcOutcome outcome;
  Value result;
  EvaluationFailure failure;
  const int16_t error = evaluate(expression, &result, &failure);
  outcome.sqlFailures = takeSqlFailures();
  if (error == kHostErrorNone) {
    outcome.text = textForm(result);
    // A number or date out of range has no text form: FileMaker shows "?".
    outcome.succeeded = result.kind == FM_KIND_TEXT || outcome.text != "?";
    if (!outcome.succeeded) {
      outcome.error = kHostErrorOutOfRange;
      outcome.message = "the result is out of range and has no text form";
    }
    return outcome;
  }
  outcome.external = failure.external;
  outcome.malformed = !failure.external && isMalformedExpressionError(error);
  if (!failure.external || !pluginError(&outcome.error, &outcome.message)) {
    outcome.error = error;
    outcome.message = failure.message;
  }
  return outcome;
}

std::string jsonObject(const CalcOutcome& outcome) {
  std::string json;
  if (outcome.succeeded) {
    json = "{\"result\":";
    appendJsonString(&json, outcome.text);
  } else {
    json = "{\"error\":" + std::to_string(outcome.error) + ",\"message\":";
    appendJsonString(&json, outcome.message);
  }
  return json + "}";
}

int printOutcome(const std::string& expression, const CalcOutcome& outcome, OutputStyle style) {
  for (const std::string& reason : outcome.sqlFailures)
    std::fprintf(stderr, "vesko-calc: SQL: %s\n", reason.c_str());
  if (style == OutputStyle::json) {
    printLine(jsonObject(outcome));
  } else if (outcome.succeeded) {
    std::string text = outcome.text;
    for (char& c : text)
      if (c == '\r') c = '\n';
    printLine(text);
  } else if (style == OutputStyle::terminal) {
    printLine("? " + std::to_string(outcome.error) + ": " + outcome.message);
  } else {
    printLine("?");
    std::fprintf(stderr, "vesko-calc: %s: %s (error %d)\n", expression.c_str(),
                 outcome.message.c_str(), outcome.error);
  }
  if (outcome.succeeded) return kAllGood;
  return outcome.malformed ? kUsageOrMalformed : kSomeFailed;
}

}  // namespace vesko_host
