// Descriptions of the host error numbers.
#include "host/objects/host_errors.h"

namespace vesko_host {

const char* hostErrorText(int error) {
  switch (error) {
    case kHostErrorNone:
      return "no error";
    case kHostErrorUnknown:
      return "the operation failed";
    case kHostErrorNoCalculation:
      return "no calculation is running";
    case kHostErrorFileMissing:
      return "no such database file is open";
    case kHostErrorUnexpectedEnd:
      return "the expression ends too early";
    case kHostErrorValueExpected:
      return "a number, text, function or \"(\" was expected";
    case kHostErrorUnendedComment:
      return "comment without its closing */";
    case kHostErrorUnendedText:
      return "text constant without its closing quote";
    case kHostErrorUnbalancedParens:
      return "unbalanced parentheses";
    case kHostErrorOperatorExpected:
      return "an operator was expected";
    case kHostErrorTooFewParameters:
      return "too few parameters";
    case kHostErrorTooManyParameters:
      return "too many parameters";
    case kHostErrorUnknownFunction:
      return "unknown function";
    case kHostErrorBadGetParameter:
      return "unknown Get parameter";
    case kHostErrorCalculation:
      return "calculation nested too deeply";
    case kHostErrorOutOfRange:
      return "value out of range";
    case kHostErrorAlreadyRegistered:
      return "function already registered";
    case kHostErrorNotRegistered:
      return "function not registered";
    case kHostErrorBadKind:
      return "not a value of that kind";
    case kHostErrorQueryInvalid:
      return "SQL query not valid";
    case kHostErrorQueryFailed:
      return "SQL query failed";
    case kHostErrorQueryTimeLimit:
      return "SQL query stopped at its time limit";
    case kHostErrorQueryTooLarge:
      return "SQL query result larger than the memory cap";
    default:
      return "host error";
  }
}

bool isMalformedExpressionError(int error) {
  switch (error) {
    case kHostErrorUnexpectedEnd:
    case kHostErrorValueExpected:
    case kHostErrorUnendedComment:
    case kHostErrorUnendedText:
    case kHostErrorUnbalancedParens:
    case kHostErrorOperatorExpected:
    case kHostErrorTooFewParameters:
    case kHostErrorTooManyParameters:
    case kHostErrorUnknownFunction:
    case kHostErrorBadGetParameter:
      return true;
    default:
      return false;
  }
}

}  // namespace vesko_host
