// Query results: the rows and cell texts lent as views, read like any
// other object, and watched by the instrument like any other.
#include <cstring>
#include <filesystem>

#include "tests/host/host_test_support.h"
#include "tests/support/temporary_database.h"

namespace vesko_test {
namespace {

class RowStoreTest : public HostTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(
        openTemporaryDatabase("vesko-row-store-test",
                              "CREATE TABLE t (i INTEGER, r REAL, s TEXT, b BLOB);"
                              "INSERT INTO t VALUES (42, 2.5, 'Zürich 😀', x'61ff62');"
                              "INSERT INTO t VALUES (-7, 0.1, '', NULL);",
                              &path_));
  }
  void TearDown() override {
    removeTemporaryDatabase(path_);
    HostTest::TearDown();
  }

  // The rows of `sql`, in a row vector the test deletes.
  FMRowVect* query(const std::string& sql) {
    FMExprEnv* env = FM_ExprEnv_Constructor1(0, e());
    FMText* q = text(sql);
    FMText* file = text("");
    FMDataVect* none = FM_DataVect_Constructor1(e());
    FMRowVect* rows = FM_RowVect_Constructor1(e());
    EXPECT_EQ(FM_ExprEnv_ExecuteFileSQL(env, q, file, none, rows, e()), 0) << sql;
    FM_DataVect_Delete(none, e());
    FM_Text_Delete(file, e());
    FM_Text_Delete(q, e());
    FM_ExprEnv_Delete(env, e());
    return rows;
  }

  const FMText* cell(FMRowVect* rows, uint32_t row, uint32_t column) {
    return FM_DataVect_AtAsText(FM_RowVect_At(rows, row, e()), column, e());
  }

  std::string onlyViolation() {
    const std::vector<std::string> violations = vesko_host::takeViolations();
    return violations.size() == 1 ? violations[0]
                                  : std::to_string(violations.size()) + " violations";
  }

  std::filesystem::path path_;
};

TEST_F(RowStoreTest, ViewsReadTheCellsAndAreLentOnce) {
  FMRowVect* rows = query("SELECT * FROM t ORDER BY rowid");
  const FMDataVect* first = FM_RowVect_At(rows, 0, e());
  EXPECT_EQ(FM_RowVect_At(rows, 0, e()), first);
  EXPECT_NE(FM_RowVect_At(rows, 1, e()), first);
  ASSERT_EQ(FM_DataVect_Size(first, e()), 4u);
  EXPECT_EQ(FM_DataVect_AtAsText(first, 2, e()), cell(rows, 0, 2));
  EXPECT_NE(cell(rows, 0, 2), cell(rows, 0, 3));

  EXPECT_EQ(bytes(cell(rows, 0, 0)), "42");
  EXPECT_EQ(bytes(cell(rows, 0, 1)), "2.5");
  EXPECT_EQ(bytes(cell(rows, 0, 2)), "Z\xC3\xBCrich \xF0\x9F\x98\x80");
  EXPECT_EQ(FM_Text_GetSize(cell(rows, 0, 2), e()), 9u);  // the emoji is two units
  EXPECT_EQ(bytes(cell(rows, 0, 3)),
            "a\xEF\xBF\xBD"
            "b");  // a bad byte reads as U+FFFD
  EXPECT_EQ(FM_Text_GetSize(cell(rows, 0, 3), e()), 3u);
  EXPECT_EQ(bytes(cell(rows, 1, 0)), "-7");
  EXPECT_EQ(bytes(cell(rows, 1, 1)), "0.1");
  EXPECT_EQ(bytes(cell(rows, 1, 2)), "");
  EXPECT_EQ(FM_Text_GetSize(cell(rows, 1, 3), e()), 0u);  // NULL

  // Eight ASCII bytes are checked at once; what follows them still counts.
  FMRowVect* edges = query(
      "SELECT 'abcdefgh' || char(233), CAST(x'61626364656667ff' AS TEXT), "
      "CAST(x'6162636465666768f09f9880' AS TEXT)");
  EXPECT_EQ(FM_Text_GetSize(cell(edges, 0, 0), e()), 9u);
  EXPECT_EQ(bytes(cell(edges, 0, 1)), "abcdefg\xEF\xBF\xBD");
  EXPECT_EQ(FM_Text_GetSize(cell(edges, 0, 2), e()), 10u);
  EXPECT_EQ(code(), 0);
  FM_RowVect_Delete(edges, e());
  FM_RowVect_Delete(rows, e());
}

TEST_F(RowStoreTest, AViewIsReadLikeAnOrdinaryText) {
  FMRowVect* rows = query("SELECT s FROM t ORDER BY rowid");
  const FMText* view = cell(rows, 0, 0);
  FMText* same = text("Z\xC3\xBCrich \xF0\x9F\x98\x80");
  auto sameBytes = [&](uint32_t capacity, uint32_t position, uint32_t size, int32_t encoding) {
    char fromView[16], fromText[16];
    std::memset(fromView, 'x', sizeof fromView);
    std::memset(fromText, 'x', sizeof fromText);
    FM_Text_GetBytes(view, fromView, capacity, position, size, encoding, e());
    FM_Text_GetBytes(same, fromText, capacity, position, size, encoding, e());
    EXPECT_EQ(std::memcmp(fromView, fromText, sizeof fromView), 0)
        << "capacity " << capacity << ", position " << position << ", size " << size
        << ", encoding " << encoding;
  };
  // The whole text in UTF-8 first, read from the cell: cut at every capacity.
  for (uint32_t capacity = 0; capacity < 16; ++capacity)
    for (int32_t encoding : {FM_ENCODING_UTF8, FM_ENCODING_NATIVE})
      for (uint32_t size : {FM_TEXT_TO_END, 9u}) sameBytes(capacity, 0, size, encoding);
  // Then any part, in any encoding.
  for (uint32_t capacity = 0; capacity < 16; ++capacity)
    for (int32_t encoding : {FM_ENCODING_UTF8, FM_ENCODING_ISO_8859_1})
      for (uint32_t position : {0u, 1u, 7u})
        for (uint32_t size : {FM_TEXT_TO_END, 2u}) sameBytes(capacity, position, size, encoding);

  EXPECT_NE(FM_Text_operatorEQ(view, same, e()), 0);
  FMText* pattern = text("rich");
  EXPECT_EQ(FM_Text_Find(view, pattern, 0, e()), 2u);
  FMData* d = FM_Data_Constructor1(e());
  EXPECT_EQ(FM_Data_SetAsText(d, view, nullptr, FM_KIND_TEXT, e()), 0);
  EXPECT_EQ(bytes(FM_Data_GetAsText(d, e())), bytes(same));
  EXPECT_EQ(code(), 0);
  FM_Data_Delete(d, e());
  FM_Text_Delete(pattern, e());
  FM_Text_Delete(same, e());
  FM_RowVect_Delete(rows, e());
}

TEST_F(RowStoreTest, ChangingAViewKeepsItsHandleAndShowsTheChange) {
  FMRowVect* rows = query("SELECT s, i FROM t ORDER BY rowid");
  const FMText* view = cell(rows, 0, 0);
  FMText* tail = text("!");
  FM_Text_AppendText(const_cast<FMText*>(view), tail, 0, FM_TEXT_TO_END, e());
  EXPECT_EQ(cell(rows, 0, 0), view);
  EXPECT_EQ(bytes(view), "Z\xC3\xBCrich \xF0\x9F\x98\x80!");
  EXPECT_EQ(FM_Text_GetSize(view, e()), 10u);
  EXPECT_EQ(bytes(cell(rows, 0, 1)), "42");  // its neighbours untouched
  EXPECT_EQ(bytes(cell(rows, 1, 0)), "");

  // A row read as values becomes a vector of its own; its lent text stays.
  const FMDataVect* row = FM_RowVect_At(rows, 0, e());
  EXPECT_EQ(FM_Data_GetNativeType(FM_DataVect_At(row, 1, e()), e()), FM_KIND_NUMBER);
  EXPECT_EQ(FM_FixPt_AsLong(FM_DataVect_AtAsNumber(row, 1, e()), e()), 42);
  EXPECT_EQ(FM_RowVect_At(rows, 0, e()), row);
  EXPECT_EQ(FM_DataVect_Size(row, e()), 2u);
  EXPECT_EQ(bytes(FM_Data_GetAsText(FM_DataVect_At(row, 0, e()), e())),
            "Z\xC3\xBCrich \xF0\x9F\x98\x80");
  EXPECT_EQ(bytes(FM_DataVect_AtAsText(row, 1, e())), "42");
  EXPECT_EQ(bytes(view), "Z\xC3\xBCrich \xF0\x9F\x98\x80!");
  EXPECT_EQ(FM_DataVect_At(row, 2, e()), nullptr);
  EXPECT_NE(onlyViolation().find("index 2 past the end of a data vector of 2"), std::string::npos);

  // A query result may be appended to, and its rows be the appended ones.
  FM_RowVect_PushBack(rows, row, e());
  ASSERT_EQ(FM_RowVect_Size(rows, e()), 3u);
  EXPECT_EQ(bytes(cell(rows, 2, 1)), "42");
  EXPECT_EQ(code(), 0);
  FM_Text_Delete(tail, e());
  FM_RowVect_Delete(rows, e());
}

TEST_F(RowStoreTest, TheInstrumentWatchesViewsLikeObjects) {
  FMRowVect* rows = query("SELECT i, s FROM t ORDER BY rowid");
  const FMDataVect* row = FM_RowVect_At(rows, 0, e());
  const FMText* view = cell(rows, 0, 1);
  EXPECT_EQ(vesko_host::livePluginObjects().describe(), "row vector 1");

  FM_Text_Delete(const_cast<FMText*>(view), e());
  EXPECT_NE(onlyViolation().find("delete of a text borrowed"), std::string::npos);
  FM_DataVect_Delete(const_cast<FMDataVect*>(row), e());
  EXPECT_NE(onlyViolation().find("delete of a data vector borrowed"), std::string::npos);
  EXPECT_EQ(FM_Text_GetSize(reinterpret_cast<const FMText*>(row), e()), 0u);
  EXPECT_NE(onlyViolation().find("is a data vector, not a text"), std::string::npos);
  EXPECT_EQ(FM_DataVect_Size(reinterpret_cast<const FMDataVect*>(view), e()), 0u);
  EXPECT_NE(onlyViolation().find("is a text, not a data vector"), std::string::npos);
  const auto* inside = reinterpret_cast<const FMText*>(reinterpret_cast<const char*>(view) + 1);
  EXPECT_EQ(FM_Text_GetSize(inside, e()), 0u);
  EXPECT_NE(onlyViolation().find("unknown handle"), std::string::npos);
  // Where the next cell would be, were there one.
  const FMText* last = cell(rows, 1, 1);
  const auto* next = reinterpret_cast<const FMText*>(
      reinterpret_cast<const char*>(last) +
      (reinterpret_cast<const char*>(view) - reinterpret_cast<const char*>(cell(rows, 0, 0))));
  EXPECT_EQ(FM_Text_GetSize(next, e()), 0u);
  EXPECT_NE(onlyViolation().find("unknown handle"), std::string::npos);
  EXPECT_EQ(bytes(view), "Z\xC3\xBCrich \xF0\x9F\x98\x80");  // still there

  // Injected faults strike views as they strike objects.
  vesko_host::failOperation(1, FM_ERROR_BAD_ALLOC);
  EXPECT_EQ(FM_DataVect_AtAsText(row, 0, e()), nullptr);
  EXPECT_EQ(code(), FM_ERROR_BAD_ALLOC);
  char buffer[8] = "kept";
  vesko_host::failOperation(1, FM_ERROR_FAILURE);
  FM_Text_GetBytes(view, buffer, sizeof buffer, 0, FM_TEXT_TO_END, FM_ENCODING_UTF8, e());
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_STREQ(buffer, "kept");

  // Once the rows are deleted, what they lent is unknown.
  FM_RowVect_Delete(rows, e());
  EXPECT_EQ(FM_Text_GetSize(view, e()), 0u);
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_NE(onlyViolation().find("FM_Text_GetSize: unknown handle, not a text"), std::string::npos);
  EXPECT_EQ(FM_DataVect_AtAsText(row, 0, e()), nullptr);
  EXPECT_NE(onlyViolation().find("unknown handle, not a data vector"), std::string::npos);
  EXPECT_EQ(vesko_host::livePluginObjects().describe(), "none");
}

TEST_F(RowStoreTest, LargeResultsSpanManyChunksIntact) {
  // Cells of 0 to 49 two-byte characters, rows past the first chunks of
  // rows and of cells, and one text longer than a chunk of text.
  FMRowVect* rows = query(
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 10000) "
      "SELECT x, replace(hex(zeroblob(x % 50)), '00', 'é'), x * 0.5 FROM n "
      "UNION ALL SELECT 0, replace(hex(zeroblob(40000)), '00', 'ab'), 0");
  ASSERT_EQ(FM_RowVect_Size(rows, e()), 10001u);
  for (uint32_t r = 0; r < 10000; ++r) {
    const int x = static_cast<int>(r) + 1;
    std::string accents;
    for (int k = 0; k < x % 50; ++k) accents += "\xC3\xA9";
    const std::string half = x % 2 == 0 ? std::to_string(x / 2) : std::to_string(x / 2) + ".5";
    ASSERT_EQ(bytes(cell(rows, r, 0)), std::to_string(x)) << r;
    ASSERT_EQ(bytes(cell(rows, r, 1)), accents) << r;
    ASSERT_EQ(FM_Text_GetSize(cell(rows, r, 1), e()), static_cast<uint32_t>(x % 50)) << r;
    ASSERT_EQ(bytes(cell(rows, r, 2)), half) << r;
  }
  std::string long_text;
  for (int k = 0; k < 40000; ++k) long_text += "ab";
  EXPECT_EQ(bytes(cell(rows, 10000, 1)), long_text);
  EXPECT_EQ(code(), 0);
  FM_RowVect_Delete(rows, e());
}

}  // namespace
}  // namespace vesko_test
