// ExecuteFileSQL on the open SQLite file, and Get(FilePath).
#include <cstdio>
#include <filesystem>

#include "host/values/calendar.h"
#include "tests/host/host_test_support.h"
#include "tests/support/temporary_database.h"

namespace vesko_test {
namespace {

class SqlTest : public HostTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(
        openTemporaryDatabase("vesko-sql-test",
                              "CREATE TABLE t (i INTEGER, r REAL, s TEXT, n TEXT, b BLOB);"
                              "INSERT INTO t VALUES (42, 2.5, 'Zürich', NULL, x'6869');"
                              "INSERT INTO t VALUES (-9007199254740993, 0.1, '', 'x', NULL);",
                              &path_));
  }
  void TearDown() override {
    removeTemporaryDatabase(path_);
    HostTest::TearDown();
  }

  // Runs `query` with the given file name and parameters; answers the host
  // error and the cells' text forms row by row, "|" between cells.
  int16_t query(const std::string& sql, std::vector<std::string>* rows,
                const std::string& fileName = "", FMDataVect* parameters = nullptr) {
    FMExprEnv* env = FM_ExprEnv_Constructor1(0, e());
    FMText* q = text(sql);
    FMText* file = text(fileName);
    FMDataVect* none = FM_DataVect_Constructor1(e());
    FMRowVect* result = FM_RowVect_Constructor1(e());
    const int16_t error =
        FM_ExprEnv_ExecuteFileSQL(env, q, file, parameters ? parameters : none, result, e());
    for (uint32_t r = 0; r < FM_RowVect_Size(result, e()); ++r) {
      const FMDataVect* row = FM_RowVect_At(result, r, e());
      std::string line;
      for (uint32_t c = 0; c < FM_DataVect_Size(row, e()); ++c) {
        if (c > 0) line += '|';  // appended, not "|" + ...: GCC 12's false -Wrestrict at -O3
        line += bytes(FM_DataVect_AtAsText(row, c, e()));
      }
      rows->push_back(line);
    }
    FM_RowVect_Delete(result, e());
    FM_DataVect_Delete(none, e());
    FM_Text_Delete(file, e());
    FM_Text_Delete(q, e());
    FM_ExprEnv_Delete(env, e());
    return error;
  }

  std::filesystem::path path_;
};

TEST_F(SqlTest, CellsShowWhatAUserExpects) {
  std::vector<std::string> rows;
  ASSERT_EQ(query("SELECT * FROM t ORDER BY rowid", &rows), 0);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "42|2.5|Z\xC3\xBCrich||hi");
  EXPECT_EQ(rows[1], "-9007199254740993|0.1||x|");  // every digit of a large integer
}

TEST_F(SqlTest, NonAsciiInTheQueryAndNoRows) {
  std::vector<std::string> rows;
  ASSERT_EQ(query("SELECT i FROM t WHERE s = 'Zürich'", &rows), 0);
  EXPECT_EQ(rows, std::vector<std::string>{"42"});
  rows.clear();
  ASSERT_EQ(query("SELECT i FROM t WHERE 0", &rows), 0);
  EXPECT_TRUE(rows.empty());
  ASSERT_EQ(query("UPDATE t SET s = 'Genève' WHERE i = 42", &rows), 0);
  ASSERT_EQ(query("SELECT s FROM t WHERE i = 42", &rows), 0);
  EXPECT_EQ(rows, std::vector<std::string>{"Gen\xC3\xA8ve"});
}

TEST_F(SqlTest, ParametersBindInOrder) {
  FMDataVect* parameters = FM_DataVect_Constructor1(e());
  FMData* d = FM_Data_Constructor1(e());
  FMFixPt* n = FM_FixPt_Constructor1(42, 16, e());
  FM_Data_SetAsNumber(d, n, FM_KIND_NUMBER, e());
  FM_DataVect_PushBack(parameters, d, e());
  std::vector<std::string> rows;
  ASSERT_EQ(query("SELECT s, typeof(?) FROM t WHERE i = ?1", &rows, "", parameters), 0);
  EXPECT_EQ(rows, std::vector<std::string>{"Z\xC3\xBCrich|integer"});
  FM_DataVect_PushBack(parameters, d, e());
  FM_DataVect_PushBack(parameters, d, e());
  EXPECT_EQ(query("SELECT ?, ?", &rows, "", parameters), 8309);        // one parameter too many
  EXPECT_EQ(query("SELECT ?, ?, ?, ?", &rows, "", parameters), 8309);  // one too few
  // Date-times bind in the ISO forms SQLite's date functions read.
  FMDateTime* when = FM_DateTime_Constructor1(e());
  FMFixPt* seconds = FM_FixPt_Constructor1(0, 16, e());
  FM_FixPt_AssignDouble(seconds, vesko_host::dateSeconds(2026, 12, 8) + 9 * 3600 + 5 * 60, e());
  FM_DateTime_SetSecondsSinceEpoch(when, seconds, e());
  FMDateTime* clock = FM_DateTime_Constructor1(e());
  FM_FixPt_AssignDouble(seconds, 9 * 3600 + 5 * 60, e());
  FM_DateTime_SetSecondsSinceEpoch(clock, seconds, e());
  FMDataVect* moments = FM_DataVect_Constructor1(e());
  for (auto [moment, kind] : {std::pair{when, FM_KIND_DATE}, std::pair{clock, FM_KIND_TIME},
                              std::pair{when, FM_KIND_TIMESTAMP}}) {
    FM_Data_SetAsTimeStamp(d, moment, kind, e());
    FM_DataVect_PushBack(moments, d, e());
  }
  rows.clear();
  ASSERT_EQ(query("SELECT ?, ?, ?, date(?3, '+1 day')", &rows, "", moments), 0);
  EXPECT_EQ(rows, std::vector<std::string>{"2026-12-08|09:05:00|2026-12-08 09:05:00|2026-12-09"});
  FM_DataVect_Delete(moments, e());
  FM_FixPt_Delete(seconds, e());
  FM_DateTime_Delete(clock, e());
  FM_DateTime_Delete(when, e());
  FM_FixPt_Delete(n, e());
  FM_Data_Delete(d, e());
  FM_DataVect_Delete(parameters, e());
}

TEST_F(SqlTest, QueryErrorsMapToHostErrors) {
  std::vector<std::string> rows;
  EXPECT_EQ(query("SELEC 1", &rows), 8309);
  EXPECT_EQ(query("SELECT nothing FROM t", &rows), 8309);
  EXPECT_EQ(query("SELECT 1 FROM missing", &rows), 8309);
  EXPECT_EQ(query("", &rows), 8309);
  EXPECT_EQ(query("SELECT 1; SELECT 2", &rows), 8309);
  EXPECT_EQ(query("SELECT 1;  ", &rows), 0);
  EXPECT_EQ(query(std::string("SELECT 1\0 junk", 14), &rows), 8309);
  EXPECT_EQ(query("SELECT abs(-9223372036854775807 - 1)", &rows), 8310);  // fails while running
  EXPECT_EQ(query("SELECT 1", &rows, "OtherFile"), 100);
  EXPECT_EQ(query("SELECT 1", &rows, path_.stem().string()), 0);
  EXPECT_EQ(query("SELECT 1", &rows, path_.filename().string()), 0);
  vesko_host::closeDatabase();
  EXPECT_EQ(query("SELECT 1", &rows), 100);
}

// A query that never ends stops at its time limit, one whose rows grow
// without end at the memory cap; both drop the rows they made.
TEST_F(SqlTest, RunawayQueriesAreBounded) {
  const vesko_host::QueryLimits before = vesko_host::queryLimits();
  const char* endless =
      "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT count(*) FROM r";
  const char* endlessRows =
      "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n, 'some text' FROM "
      "r";
  std::vector<std::string> rows;
  vesko_host::setQueryLimits({0.2, 0});
  EXPECT_EQ(query(endless, &rows), 8311);
  EXPECT_TRUE(rows.empty());
  vesko_host::setQueryLimits({0, 100000});
  EXPECT_EQ(query(endlessRows, &rows), 8312);
  EXPECT_TRUE(rows.empty());
  // Under both bounds a query runs as before, and again after a stop.
  vesko_host::setQueryLimits({30, 100000});
  EXPECT_EQ(query("SELECT i FROM t ORDER BY rowid", &rows), 0);
  EXPECT_EQ(rows, (std::vector<std::string>{"42", "-9007199254740993"}));
  vesko_host::setQueryLimits(before);
  EXPECT_EQ(before.seconds, 60);
}

TEST_F(SqlTest, AReadOnlyFileKeepsItsTables) {
  std::string error;
  ASSERT_TRUE(
      vesko_host::openDatabase(path_.string(), &error, vesko_host::DatabaseAccess::kReadOnly))
      << error;
  std::vector<std::string> rows;
  EXPECT_EQ(query("DROP TABLE t", &rows), 8310);
  EXPECT_EQ(query("INSERT INTO t (i) VALUES (1)", &rows), 8310);
  EXPECT_EQ(query("SELECT count(*) FROM t", &rows), 0);
  EXPECT_EQ(rows, std::vector<std::string>{"2"});
}

TEST_F(SqlTest, FilePathNamesTheOpenFile) {
  vesko_host::Value result;
  ASSERT_EQ(vesko_host::evaluate("Get(FilePath)", &result), 0);
  EXPECT_EQ(result.text, "file:" + path_.string());
  EXPECT_EQ(vesko_host::databasePath(), path_.string());
  vesko_host::overrideFilePath("fmnet:/server/Sales.fmp12");
  ASSERT_EQ(vesko_host::evaluate("Get(FilePath)", &result), 0);
  EXPECT_EQ(result.text, "fmnet:/server/Sales.fmp12");
  vesko_host::overrideFilePath(std::nullopt);
  vesko_host::closeDatabase();
  ASSERT_EQ(vesko_host::evaluate("Get(FilePath)", &result), 0);
  EXPECT_EQ(result.text, "");
}

TEST_F(SqlTest, OpeningSomethingElseFailsClearly) {
  std::string error;
  EXPECT_FALSE(vesko_host::openDatabase("/nonexistent/none.sqlite", &error));
  EXPECT_NE(error.find("/nonexistent/none.sqlite"), std::string::npos);
  const std::string notDatabase = path_.string() + ".txt";
  std::FILE* file = std::fopen(notDatabase.c_str(), "w");
  std::fputs("this is not a database, only some text that is long enough to have a header", file);
  std::fclose(file);
  EXPECT_FALSE(vesko_host::openDatabase(notDatabase, &error));
  EXPECT_NE(error.find("not a database"), std::string::npos) << error;
  std::filesystem::remove(notDatabase);
}

}  // namespace
}  // namespace vesko_test
