// vesko.Evaluate and vesko.ExecuteSQL against the substitute host's
// calculations and a real SQLite file.
#include <filesystem>

#include "tests/plugin/plugin_fixture.h"
#include "tests/temporary_database.h"

namespace vesko_test {
namespace {

namespace fs = std::filesystem;

class HostCallbacksTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(openTemporaryDatabase("vesko-callbacks", R"(
        CREATE TABLE people (id INTEGER, name TEXT, weight REAL, born TEXT, note TEXT);
        INSERT INTO people VALUES (1, 'Åsa', 61.5, '1990-02-03', NULL);
        INSERT INTO people VALUES (2, 'Björn', 80, '1985-11-30', 'tall');
        CREATE TABLE empty (x);)",
                                                  &path_));
  }
  void TearDown() override {
    removeTemporaryDatabase(path_);
    PluginTest::TearDown();
  }
  fs::path path_;
};

TEST_F(HostCallbacksTest, EvaluateAnswersText) {
  EXPECT_EQ(run("return vesko.Evaluate('')"), "");
  EXPECT_EQ(run("local r = vesko.Evaluate('1+1') return type(r) .. r"), "string2");
  EXPECT_EQ(run("return vesko.Evaluate(2)"), "2");
  EXPECT_EQ(run("return vesko.Evaluate('\"Gr\\195\\188\\195\\159e\" & \" \" & "
                "Upper(\"\\195\\169t\\195\\169\")')"),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xC3\x89T\xC3\x89");
  EXPECT_EQ(run("return vesko.Evaluate('Get(FilePath)')"), "file:" + path_.string());
}

TEST_F(HostCallbacksTest, EvaluateFailuresAreLuaErrors) {
  EXPECT_EQ(run("local ok, message = pcall(vesko.Evaluate, '1+') "
                "return tostring(ok) .. ' ' .. message"),
            "false vesko.Evaluate() --> FileMaker error 1203");
  EXPECT_EQ(run("return vesko.Evaluate('NoSuchFunction(1)')"), "?");
  EXPECT_EQ(lastError(),
            "3020: [string \"return vesko.Evaluate('NoSuchFunction(1)')\"]:1: "
            "vesko.Evaluate() --> FileMaker error 1208");
  EXPECT_EQ(run("return vesko.Evaluate()"), "?");
  EXPECT_NE(lastError().find("bad argument #1 to 'Evaluate' (string expected, got no value)"),
            std::string::npos);
}

TEST_F(HostCallbacksTest, ExecuteSqlAnswersRowsOfStrings) {
  EXPECT_EQ(run(R"(
    local rows = vesko.ExecuteSQL('SELECT id, name, weight, born, note FROM people ORDER BY id')
    local out = {#rows}
    for _, row in ipairs(rows) do
      out[#out + 1] = row.f1 .. '|' .. row.f2 .. '|' .. row.f3 .. '|' .. row.f4 .. '|' .. row.f5
      for key, value in pairs(row) do assert(type(key) == 'string' and type(value) == 'string') end
    end
    return table.concat(out, ';'))"),
            "2;1|\xC3\x85sa|61.5|1990-02-03|;2|Bj\xC3\xB6rn|80|1985-11-30|tall");
  EXPECT_EQ(run("local rows = vesko.ExecuteSQL('SELECT * FROM empty') return #rows .. type(rows)"),
            "0table");
  EXPECT_EQ(run("local rows = vesko.ExecuteSQL(\"SELECT name FROM people WHERE name = 'Björn'\") "
                "return #rows .. rows[1].f1 .. tostring(rows[1].f2)"),
            "1Bj\xC3\xB6rnnil");
}

TEST_F(HostCallbacksTest, ExecuteSqlReadsLargeResultsWhole) {
  // Thousands of rows, and cells of every length up to the longest, which
  // sizes the one buffer that all of them pass through.  Slow under
  // valgrind: more time than the default limit.
  ASSERT_EQ(text("Vesko_Timeout", {vesko_host::numberValue(60)}), "60");
  EXPECT_EQ(run(R"(
    local rows = vesko.ExecuteSQL("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
      .. "FROM n WHERE x < 9000) SELECT x, replace(hex(zeroblob(x % 300)), '00', 'é') FROM n")
    for i, row in ipairs(rows) do
      assert(row.f1 == tostring(i), i)
      assert(row.f2 == string.rep('é', i % 300), i)
    end
    return #rows)"),
            "9000");
}

TEST_F(HostCallbacksTest, ExecuteSqlFailuresAreLuaErrors) {
  EXPECT_EQ(run("return vesko.ExecuteSQL('SELEKT 1')"), "?");
  EXPECT_EQ(lastError("number"), "3020");
  EXPECT_NE(lastError().find("vesko.ExecuteSQL() --> FileMaker error 8309"), std::string::npos);
  EXPECT_EQ(run("return select(2, pcall(vesko.ExecuteSQL, 'SELECT * FROM nowhere'))"),
            "vesko.ExecuteSQL() --> FileMaker error 8309");
  EXPECT_EQ(run("return vesko.ExecuteSQL({})"), "?");
  EXPECT_NE(lastError().find("bad argument #1 to 'ExecuteSQL'"), std::string::npos);
}

TEST_F(HostCallbacksTest, HostFailuresInsideACallbackBecomeLuaErrorsAndLeakNothing) {
  // Whichever host operation fails, the script sees a Lua error (or the
  // call ends cleanly) and every host object the natives made is released
  // while the error unwinds; the fixture counts them on tear-down.
  for (uint64_t n = 1; n < 80; ++n) {
    vesko_host::failOperation(n, n % 2 == 0 ? FM_ERROR_BAD_ALLOC : FM_ERROR_FAILURE);
    Value result;
    call("Vesko_RunScript",
         {vesko_host::textValue("local a = vesko.Evaluate('1+2') "
                                "local rows = vesko.ExecuteSQL('SELECT * FROM people') "
                                "return a .. #rows")},
         &result);
    vesko_host::failOperation(0, 0);
  }
  EXPECT_EQ(run("return vesko.Evaluate('1+2') .. #vesko.ExecuteSQL('SELECT * FROM people')"), "32");
}

}  // namespace
}  // namespace vesko_test
