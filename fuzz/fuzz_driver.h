// Runs Lua drivers for the fuzz targets on one interpreter per process,
// opened as start-up opens it.
#ifndef VESKO_FUZZ_FUZZ_DRIVER_H
#define VESKO_FUZZ_FUZZ_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

struct lua_State;

namespace vesko {

lua_State* fuzzState();

// Runs the Lua chunk `driver` (compiled on first use) with `args` as its
// `...`.  A driver catches the errors the natives may raise and raises one
// of its own when a native breaks a promise; that error ends the run.
void runDriver(const char* driver, std::initializer_list<std::string_view> args);

// Ends the run with `message` when `holds` is false.
void require(bool holds, const char* message);

// Splits fuzz input: the first byte, then a part whose length the second
// byte gives (cut to what is there), then the rest.
struct FuzzInput {
  unsigned char parameter = 0;
  std::string_view first;
  std::string_view second;
};
FuzzInput splitInput(const std::uint8_t* data, std::size_t size);

}  // namespace vesko

#endif
