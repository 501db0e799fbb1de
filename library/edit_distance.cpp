#include "library/edit_distance.h"

#include <algorithm>
#include <utility>

namespace vesko {

// The distance table has one row per prefix of b (i = 0 .. m) and one column
// per prefix of a (j = 0 .. n), filled column by column.  A cell needs only
// its own column and the one before, so two columns of the table live on the
// stack and nothing is allocated.
std::int32_t limitedEditDistance(std::string_view a, std::string_view b, std::int32_t limit) {
  if (limit < 1) return 0;
  a = a.substr(0, kEditDistanceMaxLength);
  b = b.substr(0, kEditDistanceMaxLength);
  const auto n = static_cast<std::int32_t>(a.size());
  const auto m = static_cast<std::int32_t>(b.size());
  if (n == 0) return std::min(m, limit);
  if (m == 0) return std::min(n, limit);

  std::int32_t columns[2][kEditDistanceMaxLength + 1];
  std::int32_t* previous = columns[0];
  std::int32_t* current = columns[1];
  for (std::int32_t i = 0; i <= m; ++i) previous[i] = i;

  for (std::int32_t j = 1; j <= n; ++j) {
    const char aj = a[j - 1];
    current[0] = j;
    std::int32_t smallest = limit;
    for (std::int32_t i = 1; i <= m; ++i) {
      const char bi = b[i - 1];
      // A swapped pair costs nothing at its first cell; the diagonal cell
      // after it then pays 1 as a substitution, so the swap costs 1 in all.
      const bool swapStarts = j < n && i < m && aj == b[i] && a[j] == bi;
      const std::int32_t cost = (aj == bi || swapStarts) ? 0 : 1;
      const std::int32_t value =
          std::min({previous[i] + 1, current[i - 1] + 1, previous[i - 1] + cost});
      current[i] = value;
      smallest = std::min(smallest, value);
    }
    // A column wholly at or above the limit keeps every later column there
    // too (row 0 of column j is j, which is then at or above it as well), so
    // stopping here cannot change the result.
    if (smallest >= limit) return limit;
    std::swap(previous, current);
  }
  return std::min(previous[m], limit);
}

}  // namespace vesko
