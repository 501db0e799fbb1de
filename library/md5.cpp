#include "library/md5.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace vesko {

namespace {

constexpr std::size_t kBlockSize = 64;

// Additive constants: the integer part of 2^32 * |sin(i + 1)|, i in radians.
struct SineTable {
  std::uint32_t value[64];
  SineTable() {
    for (int i = 0; i < 64; ++i) {
      value[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 0x1p32));
    }
  }
};

// Rotation amounts, four per round, used in turn.
constexpr int kRotation[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Which message word step `i` adds: in order, then from 1 by 5, from 5 by 3,
// from 0 by 7.
constexpr std::size_t messageWord(std::size_t i) {
  const std::size_t k = i % 16;
  switch (i / 16) {
    case 0:
      return k;
    case 1:
      return (1 + 5 * k) % 16;
    case 2:
      return (5 + 3 * k) % 16;
    default:
      return (7 * k) % 16;
  }
}

template <std::size_t Round>
std::uint32_t mix(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  if constexpr (Round == 0) {
    return (b & c) | (~b & d);
  } else if constexpr (Round == 1) {
    return (b & d) | (c & ~d);
  } else if constexpr (Round == 2) {
    return b ^ c ^ d;
  } else {
    return c ^ (b | ~d);
  }
}

// Step i updates one of the four state words; the roles a, b, c, d move one
// word to the left each step, so step i's `a` is word (4 - i % 4) % 4.
template <std::size_t I>
inline void step(std::uint32_t* v, const std::uint32_t* x, const std::uint32_t* sine) {
  constexpr std::size_t round = I / 16;
  std::uint32_t& a = v[(4 - I % 4) % 4];
  const std::uint32_t b = v[(5 - I % 4) % 4];
  const std::uint32_t c = v[(6 - I % 4) % 4];
  const std::uint32_t d = v[(7 - I % 4) % 4];
  a = b + std::rotl(a + mix<round>(b, c, d) + x[messageWord(I)] + sine[I], kRotation[round][I % 4]);
}

std::uint32_t loadLittleEndian(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void compressBlock(std::uint32_t* state, const unsigned char* block, const std::uint32_t* sine) {
  std::uint32_t x[16];
  for (std::size_t k = 0; k < 16; ++k) x[k] = loadLittleEndian(block + 4 * k);
  std::uint32_t v[4] = {state[0], state[1], state[2], state[3]};
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (step<I>(v, x, sine), ...);
  }
  (std::make_index_sequence<64>{});
  for (std::size_t k = 0; k < 4; ++k) state[k] += v[k];
}

}  // namespace

Md5Digest md5Digest(std::string_view message) {
  static const SineTable kSine;
  std::uint32_t state[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
  const auto* p = reinterpret_cast<const unsigned char*>(message.data());
  std::size_t remaining = message.size();
  for (; remaining >= kBlockSize; remaining -= kBlockSize, p += kBlockSize) {
    compressBlock(state, p, kSine.value);
  }

  // The tail, a 1 bit, zeros up to 56 bytes past a block boundary and the
  // message length in bits (little-endian, modulo 2^64) fill one or two
  // final blocks.
  unsigned char tail[2 * kBlockSize] = {};
  if (remaining > 0) std::memcpy(tail, p, remaining);  // p may be null when empty
  tail[remaining] = 0x80;
  const std::size_t tailSize = remaining < kBlockSize - 8 ? kBlockSize : 2 * kBlockSize;
  std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
  for (std::size_t k = tailSize - 8; k < tailSize; ++k, bits >>= 8) {
    tail[k] = static_cast<unsigned char>(bits);
  }
  for (std::size_t offset = 0; offset < tailSize; offset += kBlockSize) {
    compressBlock(state, tail + offset, kSine.value);
  }

  Md5Digest digest;
  for (std::size_t k = 0; k < 16; ++k) {
    digest[k] = static_cast<unsigned char>(state[k / 4] >> (8 * (k % 4)));
  }
  return digest;
}

}  // namespace vesko
