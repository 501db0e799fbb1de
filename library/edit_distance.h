// Bounded edit distance with transpositions, over bytes.
#ifndef VESKO_LIBRARY_EDIT_DISTANCE_H
#define VESKO_LIBRARY_EDIT_DISTANCE_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesko {

// Bytes of each string that the distance looks at; the rest is ignored.
inline constexpr std::size_t kEditDistanceMaxLength = 255;

// Edit distance between the first kEditDistanceMaxLength bytes of `a` and of
// `b` (NUL bytes are ordinary bytes here), never more than `limit`; 0 when
// `limit` is below 1.  A swap of two adjacent bytes costs 1.
std::int32_t limitedEditDistance(std::string_view a, std::string_view b, std::int32_t limit);

}  // namespace vesko

#endif
