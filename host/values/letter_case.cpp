// Case mapping by table: one code point to one, as Unicode's simple case
// mapping does (tools/make_case_table.py makes the table).
#include "host/values/letter_case.h"

#include <algorithm>
#include <iterator>

namespace vesko_host {
namespace {

struct CasePair {
  char32_t from;
  char32_t to;
};

// kUpperPairs and kLowerPairs, each sorted by `from`.
#include "host/values/case_table.inc"

template <std::size_t N>
char32_t lookUp(const CasePair (&pairs)[N], char32_t c) {
  const CasePair* found =
      std::lower_bound(std::begin(pairs), std::end(pairs), c,
                       [](const CasePair& pair, char32_t key) { return pair.from < key; });
  return found != std::end(pairs) && found->from == c ? found->to : c;
}

}  // namespace

char32_t upperOf(char32_t c) {
  return lookUp(kUpperPairs, c);
}

char32_t lowerOf(char32_t c) {
  return lookUp(kLowerPairs, c);
}

}  // namespace vesko_host
