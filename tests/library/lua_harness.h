// Runs chunks on an interpreter opened as start-up opens it (library_state.h)
// and reads their results and errors back as text.
#ifndef VESKO_TESTS_LIBRARY_LUA_HARNESS_H
#define VESKO_TESTS_LIBRARY_LUA_HARNESS_H

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

struct lua_State;

namespace vesko {

// Results of a chunk, each as text: strings as their bytes, numbers in the
// interpreter's format, booleans as true/false, nil as "nil".
using Results = std::vector<std::string>;

class LuaHarness {
 public:
  LuaHarness();
  ~LuaHarness();
  LuaHarness(const LuaHarness&) = delete;
  LuaHarness& operator=(const LuaHarness&) = delete;

  // Runs `chunk` with `args` (strings) as its `...`.  A chunk that raises an
  // error fails the test and gives {"error: <message>"}.
  Results run(std::string_view chunk, std::initializer_list<std::string_view> args = {});
  // The message of the error that `chunk` raises, without the position
  // prefix ("test:1: " or that of the substring script); "no error" if the
  // chunk returns.
  std::string error(std::string_view chunk, std::initializer_list<std::string_view> args = {});
  // The same with the position prefix left on.
  std::string errorWithPosition(std::string_view chunk,
                                std::initializer_list<std::string_view> args = {});

  lua_State* state() const { return L_; }

 private:
  // Status of the call, with its results or its error message on the stack.
  int call(std::string_view chunk, std::initializer_list<std::string_view> args);

  lua_State* L_;
};

}  // namespace vesko

#endif
