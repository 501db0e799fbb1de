// Case pairs by Unicode block.
#include "host/values/letter_case.h"

namespace vesko_host {
namespace {

bool within(char32_t c, char32_t low, char32_t high) {
  return c >= low && c <= high;
}

// Latin Extended-A pairs an upper-case letter with the next code point;
// the block changes which of the two is even twice.
bool evenIsUpperInExtendedA(char32_t c) {
  return within(c, 0x0100, 0x0137) || within(c, 0x014A, 0x0177);
}
bool oddIsUpperInExtendedA(char32_t c) {
  return within(c, 0x0139, 0x0148) || within(c, 0x0179, 0x017E);
}

}  // namespace

char32_t upperOf(char32_t c) {
  if (within(c, 'a', 'z')) return c - 32;
  if ((within(c, 0x00E0, 0x00FE) && c != 0x00F7) || within(c, 0x03B1, 0x03C9) ||
      within(c, 0x0430, 0x044F))
    return c == 0x03C2 ? 0x03A3 : c - 32;  // final sigma has no upper case of its own
  if (c == 0x00FF) return 0x0178;
  if (within(c, 0x0450, 0x045F)) return c - 80;
  if (evenIsUpperInExtendedA(c) && c % 2 == 1) return c - 1;
  if (oddIsUpperInExtendedA(c) && c % 2 == 0) return c - 1;
  return c;
}

char32_t lowerOf(char32_t c) {
  if (within(c, 'A', 'Z')) return c + 32;
  if ((within(c, 0x00C0, 0x00DE) && c != 0x00D7) || (within(c, 0x0391, 0x03A9) && c != 0x03A2) ||
      within(c, 0x0410, 0x042F))
    return c + 32;
  if (c == 0x0178) return 0x00FF;
  if (within(c, 0x0400, 0x040F)) return c + 80;
  if (evenIsUpperInExtendedA(c) && c % 2 == 0) return c + 1;
  if (oddIsUpperInExtendedA(c) && c % 2 == 1) return c + 1;
  return c;
}

}  // namespace vesko_host
