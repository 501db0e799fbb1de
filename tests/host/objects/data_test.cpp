// FM_Data_* kinds and conversions, and the vectors that hold data.
#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

class DataTest : public HostTest {
 protected:
  // A host-owned parameter vector as a handler receives it, through a
  // plug-in-made vector filled with the host-only PushBack.
  FMDataVect* vectorOf(const std::vector<std::string>& texts) {
    FMDataVect* v = FM_DataVect_Constructor1(e());
    FMData* d = FM_Data_Constructor1(e());
    for (const std::string& t : texts) {
      FMText* x = text(t);
      FM_Data_SetAsText(d, x, nullptr, FM_KIND_TEXT, e());
      FM_DataVect_PushBack(v, d, e());
      FM_Text_Delete(x, e());
    }
    FM_Data_Delete(d, e());
    return v;
  }
};

TEST_F(DataTest, FreshDataIsInvalidAndShowsNothing) {
  FMData* d = FM_Data_Constructor1(e());
  EXPECT_EQ(FM_Data_GetNativeType(d, e()), FM_KIND_INVALID);
  EXPECT_EQ(bytes(FM_Data_GetAsText(d, e())), "");
  EXPECT_NE(FM_Data_GetLocale(d, e()), nullptr);
  FM_Data_Delete(d, e());
}

TEST_F(DataTest, SetAsTextReadsTheKindAskedFor) {
  FMData* d = FM_Data_Constructor1(e());
  const struct {
    const char* text;
    int32_t kind;
    int16_t error;
    const char* shown;
  } cases[] = {
      {"h\xC3\xA9", FM_KIND_TEXT, 0, "h\xC3\xA9"},
      {"  12.50 ", FM_KIND_NUMBER, 0, "12.5"},
      {"12/8/2026", FM_KIND_DATE, 0, "12/8/2026"},
      {"9:05", FM_KIND_TIME, 0, "9:05:00"},
      {"12/8/2026 9:05:01", FM_KIND_TIMESTAMP, 0, "12/8/2026 9:05:01"},
      {"5", FM_KIND_BOOLEAN, 0, "1"},
      {"2/30/2026", FM_KIND_DATE, 1221, "1"},  // refused: the data keeps its value
      {"x", FM_KIND_CONTAINER, 1221, "1"},
      {"x", 42, 1221, "1"},
  };
  for (const auto& c : cases) {
    FMText* t = text(c.text);
    EXPECT_EQ(FM_Data_SetAsText(d, t, FM_Data_GetLocale(d, e()), c.kind, e()), c.error) << c.text;
    EXPECT_EQ(bytes(FM_Data_GetAsText(d, e())), c.shown) << c.text;
    FM_Text_Delete(t, e());
  }
  FM_Data_Delete(d, e());
}

TEST_F(DataTest, TheLentTextFollowsTheDataAndMayBeItsOwnSource) {
  FMData* d = FM_Data_Constructor1(e());
  FMText* t = text("one");
  FM_Data_SetAsText(d, t, nullptr, FM_KIND_TEXT, e());
  const FMText* lent = FM_Data_GetAsText(d, e());
  FMFixPt* n = FM_FixPt_Constructor1(2, 16, e());
  FM_Data_SetAsNumber(d, n, FM_KIND_NUMBER, e());
  EXPECT_EQ(FM_Data_GetAsText(d, e()), lent);  // the same object, brought up to date
  EXPECT_EQ(bytes(lent), "2");
  EXPECT_EQ(FM_Data_SetAsText(d, lent, nullptr, FM_KIND_TEXT, e()), 0);
  EXPECT_EQ(FM_Data_GetNativeType(d, e()), FM_KIND_TEXT);
  EXPECT_EQ(bytes(lent), "2");
  FM_FixPt_Delete(n, e());
  FM_Text_Delete(t, e());
  FM_Data_Delete(d, e());
}

TEST_F(DataTest, VectorsLendTheirItemsInEveryForm) {
  FMDataVect* v = vectorOf({"12abc", "12/8/2026", "ten"});
  ASSERT_EQ(FM_DataVect_Size(v, e()), 3u);
  EXPECT_EQ(FM_Data_GetNativeType(FM_DataVect_At(v, 0, e()), e()), FM_KIND_TEXT);
  EXPECT_EQ(bytes(FM_DataVect_AtAsText(v, 1, e())), "12/8/2026");
  EXPECT_EQ(FM_FixPt_AsFloat(FM_DataVect_AtAsNumber(v, 0, e()), e()), 12);
  EXPECT_EQ(FM_FixPt_AsFloat(FM_DataVect_AtAsNumber(v, 2, e()), e()), 0);

  FMFixPt* seconds = FM_FixPt_Constructor1(0, 16, e());
  FM_DateTime_GetSecondsSinceEpoch(FM_DataVect_AtAsTimeStamp(v, 1, e()), seconds, e());
  EXPECT_EQ(FM_FixPt_AsFloat(seconds, e()), vesko_host::dateValue(2026, 12, 8).seconds);
  FM_DateTime_GetSecondsSinceEpoch(FM_DataVect_AtAsTimeStamp(v, 2, e()), seconds, e());
  EXPECT_EQ(FM_FixPt_AsFloat(seconds, e()), 0);  // "ten" is no date
  EXPECT_EQ(code(), 0);

  EXPECT_EQ(FM_DataVect_At(v, 3, e()), nullptr);
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_EQ(vesko_host::takeViolations().size(), 1u);
  FM_FixPt_Delete(seconds, e());
  FM_DataVect_Delete(v, e());
}

TEST_F(DataTest, RowVectorsHoldRowsOfAnyWidth) {
  FMRowVect* rows = FM_RowVect_Constructor1(e());
  EXPECT_NE(FM_RowVect_IsEmpty(rows, e()), 0);
  FMDataVect* wide = vectorOf({"a", "b", "c"});
  FMDataVect* narrow = vectorOf({"d"});
  FM_RowVect_PushBack(rows, wide, e());
  FM_RowVect_PushBack(rows, narrow, e());
  FM_DataVect_Delete(wide, e());
  FM_DataVect_Delete(narrow, e());
  ASSERT_EQ(FM_RowVect_Size(rows, e()), 2u);
  EXPECT_EQ(FM_RowVect_IsEmpty(rows, e()), 0);
  const FMDataVect* first = FM_RowVect_At(rows, 0, e());
  EXPECT_EQ(FM_DataVect_Size(first, e()), 3u);
  EXPECT_EQ(bytes(FM_DataVect_AtAsText(first, 2, e())), "c");
  EXPECT_EQ(FM_RowVect_At(rows, 0, e()), first);  // made once, lent again
  EXPECT_EQ(bytes(FM_DataVect_AtAsText(FM_RowVect_At(rows, 1, e()), 0, e())), "d");
  EXPECT_EQ(FM_RowVect_At(rows, 2, e()), nullptr);
  EXPECT_EQ(vesko_host::takeViolations().size(), 1u);
  FM_RowVect_Delete(rows, e());
}

}  // namespace
}  // namespace vesko_test
