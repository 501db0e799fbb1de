// base64 and ascii85: any bytes round-trip through each codec, and the
// decoders take any input, with or without the expected frame.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_driver.h"

namespace {

const char kDriver[] = R"(
  local s = ...
  assert(base64.decode(base64.encode(s)) == s, "base64 round trip")
  assert(ascii85.decode(ascii85.encode(s)) == s, "ascii85 round trip")
  for _, input in ipairs({s, "QUJD" .. s, s .. "=="}) do
    local decoded = base64.decode(input)
    assert(decoded == nil or base64.decode(base64.encode(decoded)) == decoded, "base64 decode")
  end
  for _, input in ipairs({s, "<~" .. s, "<~" .. s .. "~>"}) do
    local decoded = ascii85.decode(input)
    assert(decoded == nil or ascii85.decode(ascii85.encode(decoded)) == decoded, "ascii85 decode")
  end
)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vesko::runDriver(kDriver, {{reinterpret_cast<const char*>(data), size}});
  return 0;
}
