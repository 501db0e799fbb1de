// vesko.Evaluate and vesko.ExecuteSQL against the substitute host's
// calculations and a real SQLite file.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/support/plugin_fixture.h"
#include "tests/support/temporary_database.h"

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

// Cells pass through one buffer sized for the longest (the first row here
// is all empty): each must arrive whole right after a longer or a shorter
// one, in any column, with the characters that take the most bytes
// per UTF-16 unit (3 for U+20AC) and per character (4 for U+1F600, two
// units).
TEST_F(HostCallbacksTest, ExecuteSqlCellsArriveWholeWhateverTheirOrderOfLength) {
  EXPECT_EQ(run(R"(
    local rows = vesko.ExecuteSQL("WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 "
      .. "FROM n WHERE x < 12) SELECT replace(hex(zeroblob(x * 7 % 13)), '00', '€'), x, "
      .. "replace(hex(zeroblob(x * 5 % 11)), '00', '😀'), replace(hex(zeroblob(x * 3 % 17)), "
      .. "'00', 'a') FROM n")
    for _, row in ipairs(rows) do
      local x = tonumber(row.f2)
      assert(row.f1 == string.rep('€', x * 7 % 13), x)
      assert(row.f3 == string.rep('😀', x * 5 % 11), x)
      assert(row.f4 == string.rep('a', x * 3 % 17), x)
    end
    assert(vesko.Evaluate('"' .. string.rep('€', 5) .. '"') == string.rep('€', 5))
    return #rows)"),
            "13");
}

// Building a result holds the collector back, but a cycle that ends while
// it grows must not put the next one past the ceiling, or the garbage of
// earlier results piles up to it: a script that queries in a loop, keeping
// little, runs on under a ceiling a few results above what it keeps, and
// finds its own pause again afterwards.
TEST_F(HostCallbacksTest, QueriesInALoopStayUnderTheCeiling) {
  // Slow under valgrind: more time than the default limit.
  ASSERT_EQ(text("Vesko_Timeout", {vesko_host::numberValue(60)}), "60");
  for (const char* pause : {"200", "100"}) {
    EXPECT_EQ(run(std::string("collectgarbage('setpause', ") + pause + R"()
      collectgarbage()
      vesko.MemoryLimit(collectgarbage('count') * 1024 + 3 * 2^20)
      local kept = {}
      for i = 1, 40 do
        local rows = vesko.ExecuteSQL("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL "
          .. "SELECT x + 1 FROM n WHERE x < 4000) SELECT x, 'cell ' || x FROM n")
        kept[i] = rows[i].f2
      end
      vesko.MemoryLimit(0)
      return kept[40] .. ' ' .. collectgarbage('setpause', 200))"),
              std::string("cell 40 ") + pause)
        << lastError();
  }
}

// Turning a result into tables happens inside one C call, where no hook
// runs: cells that land in one hash chain of the interpreter's strings
// (here zero-padded counters, whose sampled bytes are all zeros) took
// tens of seconds for a few hundred thousand.  The loop answers to the
// deadline itself.
TEST_F(HostCallbacksTest, ExecuteSqlStopsAtTheTimeLimit) {
  // Under valgrind the host's own part of a large query takes longer than
  // the host lets a query run; a tenth of the rows still takes far longer
  // than the limit there.
  const char* preloaded = std::getenv("LD_PRELOAD");
  const bool valgrind = preloaded != nullptr && std::strstr(preloaded, "vgpreload") != nullptr;
  const std::string rows = valgrind ? "40000" : "400000";
  auto query = [&](const std::string& cell) {
    return "return #vesko.ExecuteSQL(\"WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL \" .. "
           "\"SELECT x + 1 FROM n WHERE x < " +
           rows + ") SELECT " + cell + " FROM n\")";
  };
  auto timed = [&](const std::string& script, std::string* result) {
    const auto start = std::chrono::steady_clock::now();
    *result = run(script);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  // The host's share, which no limit interrupts: as many cells of the same
  // length that hash apart.
  std::string result;
  ASSERT_EQ(text("Vesko_Timeout", {vesko_host::numberValue(600)}), "600");
  const double hostShare = timed(query("hex(randomblob(50))"), &result);
  EXPECT_EQ(result, rows);
  ASSERT_EQ(text("Vesko_Timeout", {vesko_host::numberValue(1)}), "1");
  const double seconds = timed(query("printf('%0100d', x)"), &result);
  EXPECT_EQ(result, "?");
  EXPECT_NE(lastError("message").find("Time limit exceeded."), std::string::npos) << lastError();
  if (!valgrind) {
    EXPECT_LT(seconds, hostShare + 3.0);
  }
  EXPECT_EQ(run("return #vesko.ExecuteSQL('SELECT 1')"), "1");
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

TEST_F(HostCallbacksTest, BoundTextArrivesAsDataNeverAsSql) {
  // Quotes, a statement after a semicolon, a comment, non-ASCII: all data.
  EXPECT_EQ(run(R"lua(
    local hostile = {"O'Brien", 'say "hi"', "x'); DROP TABLE people; --", "Ærø – 東京 ☃", "", "?"}
    for i, text in ipairs(hostile) do
      vesko.ExecuteSQL("INSERT INTO people (id, name) VALUES (?, ?)", 100 + i, text)
    end
    local out = {}
    for i, text in ipairs(hostile) do
      local rows = vesko.ExecuteSQL("SELECT id FROM people WHERE name = ?", text)
      assert(#rows == 1 and rows[1].f1 == tostring(100 + i), text)
      out[#out + 1] = vesko.ExecuteSQL("SELECT name FROM people WHERE id = ?", 100 + i)[1].f1
    end
    return table.concat(out, "|") .. "|" .. #vesko.ExecuteSQL("SELECT * FROM people"))lua"),
            "O'Brien|say \"hi\"|x'); DROP TABLE people; --|\xC3\x86r\xC3\xB8 \xE2\x80\x93 "
            "\xE6\x9D\xB1\xE4\xBA\xAC \xE2\x98\x83||?|8");
}

TEST_F(HostCallbacksTest, BoundNumbersBooleansNilAndTimestampsKeepTheirKinds) {
  EXPECT_EQ(run(R"lua(
    local numbers = {0, -7, 42, 0.1, -2.5, 1e-7, 2^53, 123456.789, 1e300}
    for _, n in ipairs(numbers) do
      local back = vesko.ExecuteSQL("SELECT ?", n)[1].f1
      assert(tonumber(back) == n, n .. " came back as " .. back)
    end
    local kinds = vesko.ExecuteSQL("SELECT typeof(?), typeof(?), typeof(?), typeof(?), typeof(?)",
                                   42, 2.5, "42", true, nil)[1]
    local flags = vesko.ExecuteSQL("SELECT ?, ?, ? IS NULL", true, false, nil)[1]
    return table.concat({kinds.f1, kinds.f2, kinds.f3, kinds.f4, kinds.f5,
                         flags.f1, flags.f2, flags.f3}, " "))lua"),
            "integer real text integer null 1 0 1");

  // Host dates and timestamps arrive in the script as timestamps and go back
  // as the host's timestamps, which SQLite's date functions read.
  EXPECT_EQ(run(R"lua(
    local moment, day = ...
    vesko.ExecuteSQL("INSERT INTO people (id, born) VALUES (?, ?)", 9, moment)
    local found = vesko.ExecuteSQL("SELECT id, born, date(?), time(?) FROM people WHERE born = ?",
                                   moment, moment, moment)[1]
    local older = vesko.ExecuteSQL("SELECT count(*) FROM people WHERE born < ?", day)[1].f1
    return table.concat({found.f1, found.f2, found.f3, found.f4, older}, "|"))lua",
                {vesko_host::timestampValue(2024, 2, 29, 13, 45, 30.5),
                 vesko_host::dateValue(2000, 1, 1)}),
            "9|2024-02-29 13:45:30.5|2024-02-29|13:45:30|2");
}

TEST_F(HostCallbacksTest, ParametersMustMatchThePlaceholdersAndHaveAHostKind) {
  const std::string failure = "vesko.ExecuteSQL() --> FileMaker error ";
  for (const char* call : {"'SELECT ?, ?', 1", "'SELECT ?', 1, 2", "'SELECT 1', 1",
                           "'SELECT ?, ?', nil", "'SELECT ?1, ?2', 1, 2, 3"}) {
    EXPECT_EQ(run(std::string("return select(2, pcall(vesko.ExecuteSQL, ") + call + "))"),
              failure + "8309")
        << call;
  }
  // Without parameters a query runs as it always did: a placeholder is NULL.
  EXPECT_EQ(run("local row = vesko.ExecuteSQL('SELECT ? IS NULL, ?2')[1] return row.f1 .. row.f2"),
            "1");
  EXPECT_EQ(run("return vesko.ExecuteSQL('SELECT ?1 || ?1', 'ab')[1].f1"), "abab");

  // A value with no host kind, whatever its metatable would do.
  for (const char* value :
       {"{}", "print", "coroutine.create(function() end)", "newproxy()", "io.stdout",
        "setmetatable({}, {__tostring = error, __index = error, __len = error})"}) {
    EXPECT_EQ(run(std::string("return select(2, pcall(vesko.ExecuteSQL, 'SELECT ?, ?', 1, ") +
                  value + "))"),
              failure + "1221")
        << value;
  }
  EXPECT_EQ(run("return vesko.ExecuteSQL('SELECT ?', {})"), "?");
  EXPECT_EQ(lastError(),
            "3020: [string \"return vesko.ExecuteSQL('SELECT ?', {})\"]:1: " + failure + "1221");
}

TEST_F(HostCallbacksTest, AsManyParametersAsLuaAndSqliteTake) {
  // Thousands of parameters pass; past Lua's limit the call never starts,
  // past SQLite's the host refuses the query.
  EXPECT_EQ(run(R"lua(
    local values, marks = {}, {}
    for i = 1, 7000 do values[i], marks[i] = i, "?" end
    local query = "SELECT ? IN (" .. table.concat(marks, ", ", 2) .. ")"
    local found = vesko.ExecuteSQL(query, 6999, unpack(values, 2))[1].f1
    local ok, message = pcall(function() return vesko.ExecuteSQL(query, unpack(values, 1, 9000)) end)
    local _, far = pcall(vesko.ExecuteSQL, "SELECT ?1000000", 1)
    return found .. " " .. message:match("too many results") .. " " .. far)lua"),
            "1 too many results vesko.ExecuteSQL() --> FileMaker error 8309");
}

}  // namespace
}  // namespace vesko_test
