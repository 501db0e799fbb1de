// Converting between the host's UTF-16 texts and byte strings in the
// encodings a plug-in may ask for.
#ifndef VESKO_HOST_TEXT_ENCODING_H
#define VESKO_HOST_TEXT_ENCODING_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesko_host {

// FM_ENCODING_NATIVE, FM_ENCODING_UTF8 and FM_ENCODING_ISO_8859_1.
bool isKnownEncoding(int32_t encoding);

// Appends `bytes` decoded from `encoding` (a known one).  Ill-formed UTF-8
// never stops the decoding: each byte that starts no well-formed sequence
// becomes U+FFFD and decoding goes on with the next byte.
void appendDecoded(std::u16string& out, std::string_view bytes, int32_t encoding);

std::u16string unitsFromUtf8(std::string_view utf8);
// The UTF-16 units well-formed UTF-8 decodes to; nothing for ill-formed.
std::optional<std::size_t> wellFormedUnits(std::string_view utf8);
// A lone surrogate becomes U+FFFD.
std::string utf8FromUnits(std::u16string_view units);

// Writes `units` in `encoding` into `buffer`, cut at a whole character so
// that the output and its terminating NUL fit in `capacity` bytes; writes
// nothing at all when `capacity` is 0.  Answers the bytes written before
// the NUL.  ISO-8859-1 writes one '?' for each character above U+00FF.
std::size_t writeEncoded(std::u16string_view units, int32_t encoding, char* buffer,
                         std::size_t capacity);

// Decodes the character at `units[i]` and advances i past it; a lone
// surrogate decodes as U+FFFD.
char32_t nextCodePoint(std::u16string_view units, std::size_t& i);
void appendCodePoint(std::u16string& out, char32_t c);
// Appends `c` as UTF-8.
void appendUtf8(std::string& out, char32_t c);

}  // namespace vesko_host

#endif
