// The UTF-8 string functions at every position of any bytes: they answer or
// raise their own errors, agree with each other on well-formed strings, and
// utf8sub takes any indexes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_driver.h"

namespace {

const char kDriver[] = R"(
  local s, first, last = ...
  first, last = tonumber(first), tonumber(last)
  local valid = string.isvalidutf8(s)
  local counted, length = pcall(string.utf8len, s)
  assert(counted == valid, "utf8len and isvalidutf8 agree")
  string.is7bitascii(s)
  pcall(string.utf8code, s)
  for i = -2, #s + 2 do
    local ok, after, character = pcall(string.nextutf8, s, i)
    if ok and after then
      assert(after == i + #character and s:sub(i, after - 1) == character, "nextutf8")
    end
    for n = -5, 5 do
      local sought, p = pcall(string.seekutf8, s, i, n)
      if sought and p and n ~= 0 then assert(p >= 1 and p <= #s + 1, "seekutf8 range") end
    end
  end
  pcall(string.utf8sub, s, first, last)
  pcall(string.utf8sub, s, first)
  pcall(string.utf8sub, s, -first, -last)
  if valid and not s:find("%z") and length <= 64 then
    -- Characters one by one, from either end, make up the string again.
    local forward, backward, iterated = {}, {}, {}
    for k = 1, length do
      forward[k] = s:utf8sub(k, k)
      backward[length + 1 - k] = s:utf8sub(-k, -k)
    end
    for c in string.utf8characters(s) do iterated[#iterated + 1] = c end
    assert(table.concat(forward) == s, "utf8sub by positive index")
    assert(table.concat(backward) == s, "utf8sub by negative index")
    assert(table.concat(iterated) == s and #iterated == length, "utf8characters")
    for _, c in ipairs(iterated) do
      assert(string.utf8char(string.utf8code(c)) == c, "utf8char of utf8code")
    end
  end
)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vesko::FuzzInput input = vesko::splitInput(data, size);
  // Character indexes from -8 to 7 for first and 0 to 15 for last.
  const std::string first = std::to_string((input.parameter & 0x0F) - 8);
  const std::string last = std::to_string(input.parameter >> 4);
  vesko::runDriver(kDriver, {std::string(input.first) + std::string(input.second), first, last});
  return 0;
}
