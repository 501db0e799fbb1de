// The crossing between host values and Lua values: reading parameters as
// UTF-8 text, pushing parameters as Lua arguments, storing a Lua result as
// the host result, and naming interpreter statuses as error codes.
#ifndef VESKO_FUNCTIONS_CONVERSION_H
#define VESKO_FUNCTIONS_CONVERSION_H

#include <cstddef>
#include <climits>
#include <cstdint>
#include <memory>
#include <string_view>

#include "api/fm_api.h"

struct lua_State;

namespace vesko {

// Host date-time seconds count from 0001-01-01; a timestamp's payload is
// the host's count minus this offset, both ways.
inline constexpr double kTimestampEpochOffset = 62135582400.0;

// A parameter's UTF-8 bytes, up to its first NUL; owned, never holds a NUL.
// A short text (names, most scripts) lives inside the object; a longer one
// in `bytes`.
struct ArgumentText {
  static constexpr std::size_t kInline = 256;
  std::unique_ptr<char[]> bytes;
  char inlineBytes[kInline];  // the text when `bytes` is null
  // NUL-terminated either way: engine::loadScript names a chunk by it.
  std::size_t length = 0;
  ArgumentText() { inlineBytes[0] = '\0'; }
  const char* data() const { return bytes ? bytes.get() : inlineBytes; }
  std::string_view view() const { return {data(), length}; }
};

// Reads parameter `index` as UTF-8 text.  A host failure is thrown on to
// the call boundary (3500): an empty text in its place would run, or
// call, something other than what was asked.
ArgumentText readArgumentText(const FMDataVect* parameters, uint32_t index);

// Deletes the host number that conversions share (made on first use);
// called at shutdown and unload.
void releaseWorkingNumber() noexcept;

// [-0, +(count - first)] Pushes parameters first .. count - 1, one value
// each: numbers as numbers, texts as strings, dates, times and timestamps
// as timestamps, anything else as nil.  Answers false, pushing nothing,
// when the stack has no room for them all.
bool pushArguments(lua_State* L, const FMDataVect* parameters, uint32_t count, uint32_t first);

// How a Lua string becomes a host text.
enum class StringRule {
  kWellFormedPrefix,  // cut to the longest well-formed UTF-8 prefix
  kWhole,             // up to the first NUL, as it is
  kAllBytes,          // every byte, NULs included
};

// The one crossing from a Lua value to a host value.
//
// [-0, +0] Sets `out` from the value at `index` of L's stack: a boolean as
// the number 1 or 0, a number as a number, a string as text by `rule`, a
// timestamp as a host timestamp; `number` is the host number the crossing
// works in.  A text takes `locale`, or when that is null the locale of
// parameter 0 of `parameters`, or a system-type locale when there is
// none.  Answers kNoHostValue, leaving `out` untouched, for any other
// value (nil, tables, functions, threads, other userdata); for a text the
// host's set-as-text code; else 0.  Only reads the stack: no script code
// runs.
inline constexpr int16_t kNoHostValue = INT16_MIN;
int16_t toHostValue(lua_State* L, int index, FMData* out, FMFixPt* number, StringRule rule,
                    const FMLocale* locale, const FMDataVect* parameters);

// [-0, +0] Stores the value at `index` of L's stack into `result`:
// booleans and numbers as numbers, strings as texts, timestamps as host
// timestamps; anything else leaves `result` untouched.  A text takes the
// locale of parameter 0, or a system-type locale when there is none.
// Answers the set-as-text code for a string and `defaultCode` otherwise.
int16_t storeValue(lua_State* L, int index, FMData* result, const FMDataVect* parameters,
                   StringRule rule, int16_t defaultCode);

// [-0, +0] The first result (stack position 1) into `result`, strings cut
// to their well-formed prefix.  An empty stack leaves `result` untouched.
int16_t storeResult(lua_State* L, const FMDataVect* parameters, FMData* result,
                    int16_t defaultCode = 0);

}  // namespace vesko

#endif
