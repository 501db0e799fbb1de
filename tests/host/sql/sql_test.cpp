// ExecuteFileSQL on the open SQLite file, and Get(FilePath).
#include <cstdio>
#include <filesystem>

#include "tests/host/host_test_support.h"
#include "tests/temporary_database.h"

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
  EXPECT_EQ(query("SELECT ?, ?", &rows, "", parameters), 8309);  // one parameter too many
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
