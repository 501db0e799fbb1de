// UTF-8, ISO-8859-1 and UTF-16 conversions for the host's texts.
#include "host/values/text_encoding.h"

#include <cstring>

#include "api/fm_api.h"

namespace vesko_host {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The length of the well-formed UTF-8 sequence at bytes[i], 0 when none
// starts there.  The ranges are those of the Unicode standard's table of
// well-formed sequences: no overlong forms, no surrogates, nothing above
// U+10FFFF.
std::size_t wellFormedLength(std::string_view bytes, std::size_t i) {
  auto at = [&](std::size_t k) -> unsigned {
    return i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0x100;
  };
  auto in = [](unsigned b, unsigned low, unsigned high) { return b >= low && b <= high; };
  const unsigned b0 = at(0);
  if (b0 < 0x80) return 1;
  if (in(b0, 0xC2, 0xDF)) return in(at(1), 0x80, 0xBF) ? 2 : 0;
  if (in(b0, 0xE0, 0xEF)) {
    const unsigned low = b0 == 0xE0 ? 0xA0 : 0x80, high = b0 == 0xED ? 0x9F : 0xBF;
    return in(at(1), low, high) && in(at(2), 0x80, 0xBF) ? 3 : 0;
  }
  if (in(b0, 0xF0, 0xF4)) {
    const unsigned low = b0 == 0xF0 ? 0x90 : 0x80, high = b0 == 0xF4 ? 0x8F : 0xBF;
    return in(at(1), low, high) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

char32_t decodeSequence(std::string_view bytes, std::size_t i, std::size_t length) {
  auto b = [&](std::size_t k) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[i + k]));
  };
  switch (length) {
    case 1:
      return b(0);
    case 2:
      return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3:
      return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default:
      return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

// Writes c (at most U+10FFFF) as UTF-8 into out; answers the byte count.
std::size_t encodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace

bool isKnownEncoding(int32_t encoding) {
  return encoding == FM_ENCODING_NATIVE || encoding == FM_ENCODING_UTF8 ||
         encoding == FM_ENCODING_ISO_8859_1;
}

void appendDecoded(std::u16string& out, std::string_view bytes, int32_t encoding) {
  if (encoding == FM_ENCODING_ISO_8859_1) {
    out.reserve(out.size() + bytes.size());
    for (char byte : bytes) out.push_back(static_cast<unsigned char>(byte));
    return;
  }
  out.reserve(out.size() + bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = wellFormedLength(bytes, i);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    appendCodePoint(out, decodeSequence(bytes, i, length));
    i += length;
  }
}

std::u16string unitsFromUtf8(std::string_view utf8) {
  std::u16string out;
  appendDecoded(out, utf8, FM_ENCODING_UTF8);
  return out;
}

std::optional<std::size_t> wellFormedUnits(std::string_view utf8) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    if (utf8.size() - i >= 8) {  // ASCII, eight bytes at a time
      uint64_t eight = 0;
      std::memcpy(&eight, utf8.data() + i, 8);
      if ((eight & 0x8080808080808080ull) == 0) {
        i += 8;
        units += 8;
        continue;
      }
    }
    const std::size_t length =
        static_cast<unsigned char>(utf8[i]) < 0x80 ? 1 : wellFormedLength(utf8, i);
    if (length == 0) return std::nullopt;
    units += length == 4 ? 2 : 1;
    i += length;
  }
  return units;
}

std::string utf8FromUnits(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size();) appendUtf8(out, nextCodePoint(units, i));
  return out;
}

std::size_t writeEncoded(std::u16string_view units, int32_t encoding, char* buffer,
                         std::size_t capacity) {
  if (capacity == 0) return 0;
  const std::size_t room = capacity - 1;  // one byte is kept for the NUL
  std::size_t written = 0;
  for (std::size_t i = 0; i < units.size();) {
    const char32_t c = nextCodePoint(units, i);
    char bytes[4];
    std::size_t length = 1;
    if (encoding == FM_ENCODING_ISO_8859_1) {
      bytes[0] = c <= 0xFF ? static_cast<char>(c) : '?';
    } else {
      length = encodeUtf8(c, bytes);
    }
    if (written + length > room) break;
    std::memcpy(buffer + written, bytes, length);
    written += length;
  }
  buffer[written] = '\0';
  return written;
}

char32_t nextCodePoint(std::u16string_view units, std::size_t& i) {
  const char32_t unit = units[i++];
  if (unit < 0xD800 || unit > 0xDFFF) return unit;
  if (unit <= 0xDBFF && i < units.size() && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
    const char32_t low = units[i++];
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  return kReplacement;
}

void appendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

void appendUtf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, encodeUtf8(c, bytes));
}

}  // namespace vesko_host
