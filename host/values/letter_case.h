// Upper and lower case of the letters the host knows: ASCII, Latin-1,
// Latin Extended-A, basic Greek and Cyrillic.  Others keep their case.
#ifndef VESKO_HOST_LETTER_CASE_H
#define VESKO_HOST_LETTER_CASE_H

namespace vesko_host {

char32_t upperOf(char32_t c);
char32_t lowerOf(char32_t c);

}  // namespace vesko_host

#endif
