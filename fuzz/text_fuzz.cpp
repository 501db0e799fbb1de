// vesko.damlevlim, vesko.fnv32a and vesko.md5 on any bytes; the distance
// keeps its bounds, its symmetry and its early stop's harmlessness.
#include <algorithm>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_driver.h"
#include "library/edit_distance.h"
#include "library/md5.h"
#include "library/text_functions.h"

namespace {

const char kDriver[] = R"(
  local a, b, limit, expected = ...
  assert(vesko.damlevlim(a, b, limit) == tonumber(expected), "damlevlim through Lua")
  vesko.fnv32a(a)
  assert(#vesko.md5(b) == 32, "md5 text")
)";

std::string_view beforeNul(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vesko::limitedEditDistance;
  using vesko::require;
  const vesko::FuzzInput input = vesko::splitInput(data, size);
  const std::string_view a = input.first;
  const std::string_view b = input.second;
  const std::int32_t limit = input.parameter - 8;  // -8 to 247

  const std::int32_t full = limitedEditDistance(a, b, 1000);
  const auto n = static_cast<std::int32_t>(std::min(a.size(), vesko::kEditDistanceMaxLength));
  const auto m = static_cast<std::int32_t>(std::min(b.size(), vesko::kEditDistanceMaxLength));
  require(full == limitedEditDistance(b, a, 1000), "distance is symmetric");
  require(full >= std::abs(n - m) && full <= std::max(n, m), "distance bounds");
  const std::int32_t limited = limitedEditDistance(a, b, limit);
  require(limited == (limit < 1 ? 0 : std::min(full, limit)), "early stop changes nothing");

  vesko::fnv1a32(a);
  vesko::md5Digest(b);
  const std::int32_t expected = limitedEditDistance(beforeNul(a), beforeNul(b), limit);
  vesko::runDriver(kDriver, {a, b, std::to_string(limit), std::to_string(expected)});
  return 0;
}
