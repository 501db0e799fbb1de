// The calculation language's built-in functions.
#ifndef VESKO_HOST_CALC_BUILTINS_H
#define VESKO_HOST_CALC_BUILTINS_H

#include <string_view>
#include <vector>

#include "host/calc/calc_lexer.h"
#include "host/substitute_host.h"

namespace vesko_host {

// Computes a built-in's result from its evaluated parameters; answers a
// host error (0 for success) and sets *error's message on failure.
using BuiltinBody = int16_t (*)(const std::vector<Value>& parameters, Value* result,
                                CalcError* error);

struct Builtin {
  std::string_view name;
  int minParameters;
  int maxParameters;
  BuiltinBody body;  // nullptr: the evaluator computes it (If evaluates lazily)
};

// Looks a built-in up by name, without regard to ASCII letter case.
const Builtin* findBuiltin(std::string_view name);

// The bodies, by family.
int16_t builtinGetAsText(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinGetAsNumber(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinLength(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinLeft(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinRight(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinMiddle(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinUpper(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinLower(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinChar(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinCode(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinDate(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinTime(const std::vector<Value>&, Value*, CalcError*);
int16_t builtinTimestamp(const std::vector<Value>&, Value*, CalcError*);

// Get(parameter): the host's state.  kHostErrorBadGetParameter for a
// parameter it does not know.
int16_t getParameter(std::string_view parameter, Value* result, CalcError* error);

}  // namespace vesko_host

#endif
