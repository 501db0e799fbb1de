// The calculation language, step 3: computing the value of an expression.
#ifndef VESKO_HOST_CALC_EVALUATOR_H
#define VESKO_HOST_CALC_EVALUATOR_H

#include <string_view>

#include "host/calc/calc_lexer.h"
#include "host/substitute_host.h"

namespace vesko_host {

// Parses and evaluates `expression` as one calculation; answers its host
// error (0 for success) with *error describing a failure.  *result is set
// only on success.
int16_t evaluateCalculation(std::string_view expression, Value* result, CalcError* error);

}  // namespace vesko_host

#endif
