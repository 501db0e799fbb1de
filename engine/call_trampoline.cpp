// Reads and cuts the binary chunk format of Lua 5.1 (what ldump.c writes
// and lundump.c reads): a 12-byte header whose bytes 7 to 9 give the sizes
// of int, size_t and an instruction, then the function: source name,
// line numbers, counts, code, constants, nested functions, and the debug
// lists.  Only the shape lua_dump gives the trampoline is read, and only in
// version 0x51 (header byte 4): another version lays the function out
// differently, and the trampoline then keeps its plain, unstripped form.
#include "engine/call_trampoline.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "lua.hpp"

namespace vesko::engine {

namespace {

constexpr const char* kTrampoline = "return function(f, ...) return f(...) end";

int appendChunk(lua_State*, const void* bytes, std::size_t size, void* chunk) {
  static_cast<std::string*>(chunk)->append(static_cast<const char*>(bytes), size);
  return 0;
}

// The dump of a function without constants or nested functions, cut before
// its debug information, which is replaced by three empty lists (lines,
// variables, upvalue names).  Empty when the dump has any other shape.
std::string withoutDebugInformation(const std::string& dump) {
  constexpr std::size_t kHeader = 12;
  constexpr char kVersion = 0x51;
  if (dump.size() < kHeader || dump[4] != kVersion || dump[7] != sizeof(int) ||
      dump[8] != sizeof(std::size_t) || dump[9] != sizeof(std::uint32_t)) {
    return {};
  }
  std::size_t at = kHeader;
  auto readSize = [&](std::size_t width) -> std::size_t {
    std::size_t value = 0;
    if (at + width > dump.size()) return SIZE_MAX;
    if (width == sizeof(int)) {
      int n = 0;
      std::memcpy(&n, dump.data() + at, width);
      value = n < 0 ? SIZE_MAX : static_cast<std::size_t>(n);
    } else {
      std::memcpy(&value, dump.data() + at, width);
    }
    at += width;
    return value;
  };
  const std::size_t source = readSize(sizeof(std::size_t));
  if (source == SIZE_MAX) return {};
  at += source;               // source name
  at += 2 * sizeof(int) + 4;  // lines defined, upvalues, parameters, vararg, stack
  const std::size_t code = readSize(sizeof(int));
  if (code == SIZE_MAX) return {};
  at += code * sizeof(std::uint32_t);
  if (readSize(sizeof(int)) != 0 || readSize(sizeof(int)) != 0) return {};  // constants, functions
  if (at > dump.size()) return {};
  std::string stripped = dump.substr(0, at);
  stripped.append(3 * sizeof(int), '\0');
  return stripped;
}

}  // namespace

void pushCallTrampoline(lua_State* L) {
  if (luaL_loadstring(L, kTrampoline) != 0) lua_error(L);
  lua_call(L, 0, 1);
  std::string dump;
  lua_dump(L, appendChunk, &dump);
  const std::string stripped = withoutDebugInformation(dump);
  // The stripped form is kept only when it loads; the plain one works too,
  // with positions in messages.
  if (stripped.empty()) return;
  if (luaL_loadbuffer(L, stripped.data(), stripped.size(), "=trampoline") == 0) {
    lua_remove(L, -2);
  } else {
    lua_pop(L, 1);
  }
}

}  // namespace vesko::engine
