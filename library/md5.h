// MD5 message digest (RFC 1321).
#ifndef VESKO_LIBRARY_MD5_H
#define VESKO_LIBRARY_MD5_H

#include <array>
#include <string_view>

namespace vesko {

using Md5Digest = std::array<unsigned char, 16>;

// The digest of all bytes of `message`, NUL bytes included.
Md5Digest md5Digest(std::string_view message);

}  // namespace vesko

#endif
