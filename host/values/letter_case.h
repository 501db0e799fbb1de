// Upper and lower case of every code point, one code point to one:
// Unicode's simple case mapping.  A letter whose full mapping is longer
// (the sharp s, the ligatures) keeps its case.
#ifndef VESKO_HOST_LETTER_CASE_H
#define VESKO_HOST_LETTER_CASE_H

namespace vesko_host {

char32_t upperOf(char32_t c);
char32_t lowerOf(char32_t c);

}  // namespace vesko_host

#endif
