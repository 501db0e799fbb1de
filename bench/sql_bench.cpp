// vesko.ExecuteSQL of a large result against the same query stepped with
// the SQLite C API alone, every cell read as text, in the same process.
// Beside it, the Lua work on its own: the same tables built from the same
// strings in a bare interpreter, the least any way of answering the query
// with Lua tables costs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "host/plugins/plugin_loader.h"
#include "host/substitute_host.h"
#include "lua.hpp"

namespace {

constexpr const char* kQuery = "SELECT a,b,c,d,e FROM t";
constexpr int kColumns = 5;

void check(int status, int expected, sqlite3* db) {
  if (status != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

// A temporary SQLite file of integers, reals and texts of 0 to 100 bytes,
// some of them non-ASCII; VESKO_SQL_BENCH_ROWS rows (100,000 by default).
class Database {
 public:
  Database() {
    const char* rows = std::getenv("VESKO_SQL_BENCH_ROWS");
    rows_ = rows != nullptr ? std::atoi(rows) : 100000;
    path_ = std::filesystem::temp_directory_path() /
            ("vesko-sql-bench-" + std::to_string(getpid()) + ".sqlite");
    fill();
    check(sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK, db_);
  }
  ~Database() {
    sqlite3_close(db_);
    std::filesystem::remove(path_);
  }
  int rows() const { return rows_; }
  std::string path() const { return path_.string(); }
  sqlite3* handle() const { return db_; }

 private:
  void fill() {
    sqlite3* db = nullptr;
    check(sqlite3_open(path_.c_str(), &db), SQLITE_OK, db);
    check(sqlite3_exec(db, "CREATE TABLE t (a INTEGER, b REAL, c TEXT, d INTEGER, e TEXT); BEGIN",
                       nullptr, nullptr, nullptr),
          SQLITE_OK, db);
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr),
          SQLITE_OK, db);
    const std::string words[] = {
        "", "Åsa", "Björn Ödegård", "plain ascii words here", "Zürich — Genève — Αθήνα", "x"};
    for (int i = 0; i < rows_; ++i) {
      std::string text = words[i % 6];
      for (int k = 0; k < i % 4; ++k) text += " " + words[(i + k) % 6];
      const std::string code = "item-" + std::to_string(i);
      sqlite3_bind_int64(insert, 1, i * 7919LL - 400000);
      sqlite3_bind_double(insert, 2, i / 7.0 - 1000.25);
      sqlite3_bind_text(insert, 3, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int64(insert, 4, i % 1000);
      sqlite3_bind_text(insert, 5, code.c_str(), static_cast<int>(code.size()), SQLITE_TRANSIENT);
      check(sqlite3_step(insert), SQLITE_DONE, db);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK, db);
    sqlite3_close(db);
  }

  int rows_ = 0;
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
};

Database& database() {
  static Database made;
  return made;
}

// The query stepped directly, every cell read as text; `visit` sees each.
template <typename Visit>
void stepQuery(sqlite3* db, Visit&& visit) {
  sqlite3_stmt* statement = nullptr;
  check(sqlite3_prepare_v2(db, kQuery, -1, &statement, nullptr), SQLITE_OK, db);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int k = 0; k < kColumns; ++k) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, k));
      visit(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, k)));
    }
  }
  sqlite3_finalize(statement);
}

double stepDirectly() {
  std::size_t bytes = 0;
  const double seconds = vesko_bench::secondsOf([&] {
    stepQuery(database().handle(), [&](const char* text, std::size_t length) {
      benchmark::DoNotOptimize(text);
      bytes += length;
    });
  });
  benchmark::DoNotOptimize(bytes);
  return seconds;
}

double executeSql() {
  vesko_host::Value result;
  const double seconds = vesko_bench::secondsOf([&] {
    const int16_t error =
        vesko_host::callExternal("Vesko_RunScript",
                                 {vesko_host::textValue("local rows = vesko.ExecuteSQL('" +
                                                        std::string(kQuery) + "') return #rows")},
                                 &result);
    if (error != 0) throw std::runtime_error("Vesko_RunScript failed");
  });
  if (result.number != database().rows()) throw std::runtime_error("wrong row count");
  return seconds;
}

// The result's tables, built as vesko.ExecuteSQL builds them and then let
// go, as the script lets go of its result.
double buildTables(lua_State* L, const std::vector<std::string>& cells) {
  return vesko_bench::secondsOf([&] {
    const int rows = static_cast<int>(cells.size() / kColumns);
    lua_createtable(L, rows, 0);
    for (int k = 1; k <= kColumns; ++k) lua_pushfstring(L, "f%d", k);
    for (int r = 0; r < rows; ++r) {
      lua_pushnumber(L, r + 1);
      lua_createtable(L, 0, kColumns);
      for (int k = 0; k < kColumns; ++k) {
        lua_pushvalue(L, 2 + k);
        lua_pushstring(L, cells[static_cast<std::size_t>(r * kColumns + k)].c_str());
        lua_rawset(L, -3);
      }
      lua_rawset(L, 1);
    }
    lua_settop(L, 0);
  });
}

void BM_ExecuteSqlAgainstSqlite(benchmark::State& state) {
  std::string error;
  auto plugin = vesko_host::loadPlugin(VESKO_PLUGIN_PATH, &error);
  if (!plugin) throw std::runtime_error(error);
  if (vesko_host::enablePlugin(*plugin) != 53) throw std::runtime_error("enabling failed");
  if (!vesko_host::openDatabase(database().path(), &error)) throw std::runtime_error(error);
  vesko_bench::compare(state, "execute_sql_over_sqlite", executeSql, stepDirectly);
  vesko_host::closeDatabase();
  vesko_host::shutdownPlugin(*plugin);
  vesko_host::unloadPlugin(*plugin);
}

void BM_LuaTablesAgainstSqlite(benchmark::State& state) {
  std::vector<std::string> cells;
  stepQuery(database().handle(),
            [&](const char* text, std::size_t length) { cells.emplace_back(text, length); });
  lua_State* L = luaL_newstate();
  vesko_bench::compare(
      state, "lua_tables_over_sqlite", [&] { return buildTables(L, cells); }, stepDirectly);
  lua_close(L);
}

BENCHMARK(BM_ExecuteSqlAgainstSqlite)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LuaTablesAgainstSqlite)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
