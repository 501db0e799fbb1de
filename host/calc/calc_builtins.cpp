// The table of built-in functions.
#include "host/calc/calc_builtins.h"

namespace vesko_host {
namespace {

constexpr Builtin kBuiltins[] = {
    {"if", 3, 3, nullptr},
    {"getastext", 1, 1, builtinGetAsText},
    {"getasnumber", 1, 1, builtinGetAsNumber},
    {"length", 1, 1, builtinLength},
    {"left", 2, 2, builtinLeft},
    {"right", 2, 2, builtinRight},
    {"middle", 3, 3, builtinMiddle},
    {"upper", 1, 1, builtinUpper},
    {"lower", 1, 1, builtinLower},
    {"char", 1, 1, builtinChar},
    {"code", 1, 1, builtinCode},
    {"date", 3, 3, builtinDate},
    {"time", 3, 3, builtinTime},
    {"timestamp", 2, 2, builtinTimestamp},
};

}  // namespace

const Builtin* findBuiltin(std::string_view name) {
  for (const Builtin& builtin : kBuiltins) {
    if (builtin.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] + 32) : name[i];
      same = c == builtin.name[i];
    }
    if (same) return &builtin;
  }
  return nullptr;
}

}  // namespace vesko_host
