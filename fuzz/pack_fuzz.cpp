// string.pack and string.unpack with any format, data and start position:
// errors are argument errors, and unpacking never reports a position
// outside the data.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_driver.h"

namespace {

const char kDriver[] = R"(
  local format, data, init = ...
  init = tonumber(init)
  local function check(bytes, from, ok, position)
    if ok then
      assert(type(position) == "number", "unpack position")
      assert(position >= from and position <= math.max(#bytes + 2, from), "unpack position range")
    end
  end
  check(data, math.floor(init), pcall(string.unpack, data, format, init))
  check(data, 1, pcall(string.unpack, data, format))
  local numbers, strings = {}, {}
  for k = 1, math.min(math.floor(#data / 8), 16) do
    numbers[k] = select(2, string.unpack(data, "d", 8 * k - 7))
    strings[k] = data:sub(8 * k - 7, 8 * k + (k % 3) * 20)
  end
  for _, values in ipairs({numbers, strings}) do
    local ok, packed = pcall(string.pack, format, unpack(values))
    if ok then check(packed, 1, pcall(string.unpack, packed, format)) end
  end
)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vesko::FuzzInput input = vesko::splitInput(data, size);
  // Start positions from -3 to 252, fractions included.
  const std::string init = std::to_string((input.parameter - 3) + (input.parameter % 4) / 4.0);
  vesko::runDriver(kDriver, {input.first, input.second, init});
  return 0;
}
