// What Tab offers: the names of the functions a calculation can call.
#include <algorithm>

#include "host/cli/calc_shell.h"
#include "host/plugins/function_registry.h"

namespace vesko_host {
namespace {

// As --help writes them; the evaluator takes any letter case.
constexpr std::string_view kBuiltinNames[] = {
    "Char",   "Code",  "Date",   "Get",   "GetAsNumber", "GetAsText", "If",   "Left",
    "Length", "Lower", "Middle", "Right", "Time",        "Timestamp", "Upper"};

bool startsWithFolded(std::string_view name, std::string_view word) {
  if (name.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(name[i]) != fold(word[i])) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> functionNamesStartingWith(std::string_view word) {
  std::vector<std::string> names;
  for (std::string_view name : kBuiltinNames)
    if (startsWithFolded(name, word)) names.emplace_back(name);
  for (const ExternalFunction& function : registeredFunctions())
    if (startsWithFolded(function.name, word)) names.push_back(function.name);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vesko_host
