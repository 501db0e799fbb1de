#include "library/host_callbacks.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

#include "engine/allocator.h"
#include "engine/c_stack.h"
#include "engine/engine.h"
#include "lua.hpp"
#include "engine/loop_deadline.h"
#include "library/sql_parameters.h"
#include "plugin/host_interface.h"

// The interpreter is built as C++: a Lua error raised here unwinds these
// frames and runs their destructors, so every host object below is
// released on every path, errors included.

namespace vesko {

namespace {

// [-0, +1] Pushes `text` as UTF-8 through `buffer`, which holds at least
// 4 bytes per unit and one more.
void pushText(lua_State* L, const FMText* text, char* buffer, std::size_t capacity) {
  host::textGetBytes(text, buffer, static_cast<uint32_t>(capacity), host::kUtf8);
  buffer[capacity - 1] = '\0';
  lua_pushstring(L, buffer);
}

std::size_t bufferSize(uint32_t units) {
  return 4 * static_cast<std::size_t>(units) + 1;
}

// C stack a host evaluation and the external-function call it may make
// take, before the interpreter runs again.
constexpr std::size_t kHostCallBytes = 64 * 1024;

// [-0, +0] Raises unless an external function is running, or when the C
// stack left is too small for another host call.  Outside one
// (a finalizer at shutdown, or one that a collection between calls runs)
// the host has no calculation environment to lend, and must never be
// handed a null one.
void checkInsideCall(lua_State* L, const char* function) {
  if (engine::savedEnvironment == nullptr) {
    luaL_error(L, "%s can only be called while an external function runs.", function);
  }
  // The host may call the external functions again from here, each call
  // nesting the host's evaluation, a handler and the interpreter anew.
  engine::checkCStack(L, kHostCallBytes);
}

}  // namespace

int evaluateExpression(lua_State* L) {
  std::size_t length = 0;
  const char* expression = luaL_checklstring(L, 1, &length);
  if (length == 0) {
    lua_pushliteral(L, "");
    return 1;
  }
  checkInsideCall(L, "vesko.Evaluate()");
  int16_t error = 0;
  host::Data answer;
  try {
    host::Text text = host::newText();
    host::textAssign(text.get(), expression, host::kNative);
    answer = host::newData();
    error = host::evaluate(engine::savedEnvironment, text.get(), answer.get());
  } catch (const std::exception& failure) {
    return luaL_error(L, "vesko.Evaluate() --> host failure: %s", failure.what());
  }
  if (error > 0) return luaL_error(L, "vesko.Evaluate() --> FileMaker error %d", error);
  try {
    const FMText* text = host::dataAsText(answer.get());
    const std::size_t capacity = bufferSize(host::textSize(text));
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    pushText(L, text, buffer.get(), capacity);
  } catch (const std::exception&) {
    return luaL_error(L, "Error handling result from vesko.Evaluate().");
  }
  return 1;
}

namespace {

// Holds the collector back while a result is built: every table and string
// made then stays reachable, so a collection would only walk them again.
// A higher pause puts the next cycle off; the script's own pause comes back
// at the end, an error included.  Under a memory ceiling the collector is
// what keeps a script below it, so a cycle put off must still start well
// below the ceiling: the pause is the longest that allows for the memory in
// use, and follows it as the result grows, down to the script's own.
class CollectorHold {
 public:
  explicit CollectorHold(lua_State* L) : L_(L), pause_(lua_gc(L, LUA_GCSETPAUSE, 0)) { follow(); }
  ~CollectorHold() { lua_gc(L_, LUA_GCSETPAUSE, pause_); }
  CollectorHold(const CollectorHold&) = delete;
  CollectorHold& operator=(const CollectorHold&) = delete;

  // Fits the pause to the memory in use now.
  void follow() { lua_gc(L_, LUA_GCSETPAUSE, std::max(pause_, heldPause())); }

 private:
  static constexpr int kLongestPause = 1000;  // percent: a cycle after ten times the memory

  // A cycle that ends while the hold lasts starts the next one at the pause
  // (a percentage) of the memory it keeps, at most the memory in use.  The
  // next starts by a third of the ceiling: memory goes on growing while a
  // cycle runs, and the cycle must end before the ceiling.
  static int heldPause() {
    if (!engine::hasMemoryCeiling()) return kLongestPause;
    const std::size_t percentOfUse = std::max<std::size_t>(engine::memoryInUse() / 100, 1);
    return static_cast<int>(
        std::min<std::size_t>(kLongestPause, engine::memoryCeiling() / 3 / percentOfUse));
  }
  lua_State* L_;
  int pause_;  // the script's own
};

// [-0, +1] The result table for `rows`: one table per row, keyed "f1",
// "f2", ... for the columns of the first row.  Every cell is read twice:
// once to size one buffer for the longest, once to convert it.  The tables
// are made at their final sizes, which no script can tell from growing
// them, and which spares a large result many rehashes.
void pushRows(lua_State* L, const FMRowVect* rows) {
  if (host::rowsEmpty(rows)) {
    lua_createtable(L, 0, 0);
    return;
  }
  CollectorHold hold(L);
  const uint32_t rowCount = host::rowsSize(rows);
  const uint32_t columnCount = host::vectSize(host::rowsAt(rows, 0));
  lua_createtable(L, static_cast<int>(std::min<uint32_t>(rowCount, INT_MAX)), 0);

  uint32_t longest = 0;
  // Cells that differ only where the interpreter's string hash does not
  // look (counters, ids, common prefixes) share one hash chain, so
  // interning them can take far longer than their count suggests.
  engine::LoopDeadline deadline(L);
  for (uint32_t r = 0; r < rowCount; ++r) {
    const FMDataVect* row = host::rowsAt(rows, r);
    for (uint32_t k = 0; k < columnCount; ++k) {
      deadline.step();
      longest = std::max(longest, host::textSize(host::vectAtAsText(row, k)));
    }
  }
  const std::size_t capacity = bufferSize(longest);
  auto buffer = std::make_unique_for_overwrite<char[]>(capacity);

  // The column keys are made once and reused for every row.
  luaL_checkstack(L, static_cast<int>(columnCount) + 4, "too many columns");
  const int keys = lua_gettop(L) + 1;
  for (uint32_t k = 0; k < columnCount; ++k) lua_pushfstring(L, "f%d", static_cast<int>(k + 1));
  const int table = keys - 1;

  for (uint32_t r = 0; r < rowCount; ++r) {
    const FMDataVect* row = host::rowsAt(rows, r);
    lua_pushnumber(L, r + 1);
    lua_createtable(L, 0, static_cast<int>(columnCount));
    for (uint32_t k = 0; k < columnCount; ++k) {
      deadline.step();
      lua_pushvalue(L, keys + static_cast<int>(k));
      pushText(L, host::vectAtAsText(row, k), buffer.get(), capacity);
      lua_rawset(L, -3);
    }
    lua_rawset(L, table);
    hold.follow();
  }
  lua_settop(L, table);
}

}  // namespace

int executeSql(lua_State* L) {
  const char* query = luaL_checkstring(L, 1);
  checkInsideCall(L, "vesko.ExecuteSQL()");
  int16_t error = 0;
  host::RowVect rows;
  try {
    host::ExprEnv env = host::newExprEnv();
    host::currentEnvironment(env.get());
    host::Text queryText = host::newText();
    host::Text fileName = host::newText();
    host::DataVect parameters = host::newDataVect();
    rows = host::newRowVect();
    host::textAssign(queryText.get(), query, host::kNative);
    error = appendSqlParameters(L, 2, parameters.get());
    if (error <= 0) {
      error = host::executeFileSql(env.get(), queryText.get(), fileName.get(), parameters.get(),
                                   rows.get());
    }
  } catch (const std::exception& failure) {
    return luaL_error(L, "vesko.ExecuteSQL() --> host failure: %s", failure.what());
  }
  if (error > 0) return luaL_error(L, "vesko.ExecuteSQL() --> FileMaker error %d", error);
  try {
    pushRows(L, rows.get());
  } catch (const std::exception&) {
    return luaL_error(L, "vesko.ExecuteSQL() Memory allocation error.");
  }
  return 1;
}

}  // namespace vesko
