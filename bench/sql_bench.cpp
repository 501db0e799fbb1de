// vesko.ExecuteSQL of a large result against the same query stepped with
// the SQLite C API straight into the same Lua tables in a bare interpreter,
// every cell read as text, in the same process: the least any way of
// answering the query with Lua tables costs.  The bare interpreter holds
// its collector back during the build as vesko.ExecuteSQL does.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

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

// [-0, +0] The query's rows as vesko.ExecuteSQL gives them, made on L
// straight from SQLite and then let go, as the script lets go of its result.
double stepIntoTables(lua_State* L) {
  return vesko_bench::secondsOf([&] {
    const int pause = lua_gc(L, LUA_GCSETPAUSE, 1000);
    sqlite3* db = database().handle();
    sqlite3_stmt* statement = nullptr;
    check(sqlite3_prepare_v2(db, kQuery, -1, &statement, nullptr), SQLITE_OK, db);
    lua_createtable(L, 0, 0);
    for (int k = 1; k <= kColumns; ++k) lua_pushfstring(L, "f%d", k);
    for (int r = 1; sqlite3_step(statement) == SQLITE_ROW; ++r) {
      lua_pushnumber(L, r);
      lua_createtable(L, 0, kColumns);
      for (int k = 0; k < kColumns; ++k) {
        lua_pushvalue(L, 2 + k);
        lua_pushlstring(L, reinterpret_cast<const char*>(sqlite3_column_text(statement, k)),
                        static_cast<std::size_t>(sqlite3_column_bytes(statement, k)));
        lua_rawset(L, -3);
      }
      lua_rawset(L, 1);
    }
    sqlite3_finalize(statement);
    lua_settop(L, 0);
    lua_gc(L, LUA_GCSETPAUSE, pause);
  });
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

void BM_ExecuteSqlAgainstSqlite(benchmark::State& state) {
  std::string error;
  auto plugin = vesko_host::loadPlugin(VESKO_PLUGIN_PATH, &error);
  if (!plugin) throw std::runtime_error(error);
  if (vesko_host::enablePlugin(*plugin) != 53) throw std::runtime_error("enabling failed");
  if (!vesko_host::openDatabase(database().path(), &error)) throw std::runtime_error(error);
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  const auto [ours, theirs] =
      vesko_bench::totalsOf(state, executeSql, [&] { return stepIntoTables(L); });
  vesko_bench::report(state, "execute_sql_over_sqlite",
                      "vesko.ExecuteSQL / SQLite stepped straight into Lua tables", ours / theirs,
                      "<= 1.3");
  lua_close(L);
  vesko_host::closeDatabase();
  vesko_host::shutdownPlugin(*plugin);
  vesko_host::unloadPlugin(*plugin);
}

BENCHMARK(BM_ExecuteSqlAgainstSqlite)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace

VESKO_BENCH_MAIN()
