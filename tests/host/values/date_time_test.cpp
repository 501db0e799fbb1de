// Date-times: the calendar, FM_DateTime_* and the text forms of kinds 3 to 5.
#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

using vesko_host::textForm;

class DateTimeTest : public HostTest {};

TEST_F(DateTimeTest, CalendarCountsFromYearOne) {
  EXPECT_EQ(vesko_host::dateValue(1, 1, 1).seconds, 0);
  EXPECT_EQ(vesko_host::dateValue(1, 1, 2).seconds, 86400);
  // The timestamp epoch offset of the Lua side is 1970-01-01 less 4 hours.
  EXPECT_EQ(vesko_host::dateValue(1970, 1, 1).seconds, 62135596800.0);
  EXPECT_EQ(vesko_host::dateValue(2000, 3, 1).seconds - vesko_host::dateValue(2000, 2, 28).seconds,
            2 * 86400);  // 2000 is a leap year
  EXPECT_EQ(vesko_host::dateValue(1900, 3, 1).seconds - vesko_host::dateValue(1900, 2, 28).seconds,
            86400);  // 1900 is not
}

TEST_F(DateTimeTest, TextForms) {
  EXPECT_EQ(textForm(vesko_host::dateValue(2026, 12, 8)), "12/8/2026");
  EXPECT_EQ(textForm(vesko_host::dateValue(1, 1, 1)), "1/1/0001");
  EXPECT_EQ(textForm(vesko_host::timeValue(9, 5, 3)), "9:05:03");
  EXPECT_EQ(textForm(vesko_host::timeValue(0, 0, 0.5)), "0:00:00.5");
  EXPECT_EQ(textForm(vesko_host::timeValue(27, 0, 0)), "27:00:00");  // a duration, not a clock
  EXPECT_EQ(textForm(vesko_host::timeValue(-1, 0, 0)), "-1:00:00");
  EXPECT_EQ(textForm(vesko_host::timestampValue(2026, 12, 8, 23, 59, 59.25)),
            "12/8/2026 23:59:59.25");
  EXPECT_EQ(textForm(vesko_host::timestampValue(2024, 2, 29, 0, 0, 0)), "2/29/2024 0:00:00");
  EXPECT_EQ(textForm(vesko_host::containerValue()), "");
  EXPECT_EQ(textForm(vesko_host::booleanValue(true)), "1");
  EXPECT_EQ(textForm(vesko_host::booleanValue(false)), "0");
  EXPECT_EQ(textForm(vesko_host::Value{}), "");
}

TEST_F(DateTimeTest, SecondsGoInAndOutThroughAFixPt) {
  FMDateTime* d = FM_DateTime_Constructor1(e());
  FMFixPt* n = FM_FixPt_Constructor1(0, 16, e());
  FM_FixPt_AssignDouble(n, 63900000000.75, e());
  FM_DateTime_SetSecondsSinceEpoch(d, n, e());
  FM_FixPt_AssignInt(n, 0, e());
  FM_DateTime_GetSecondsSinceEpoch(d, n, e());
  EXPECT_EQ(FM_FixPt_AsFloat(n, e()), 63900000000.75);

  FMData* data = FM_Data_Constructor1(e());
  FM_Data_SetAsTimeStamp(data, d, FM_KIND_TIMESTAMP, e());
  EXPECT_EQ(FM_Data_GetNativeType(data, e()), FM_KIND_TIMESTAMP);
  EXPECT_EQ(bytes(FM_Data_GetAsText(data, e())), "11/29/2025 8:00:00.75");
  FM_Data_SetAsTimeStamp(data, d, FM_KIND_DATE, e());
  EXPECT_EQ(bytes(FM_Data_GetAsText(data, e())), "11/29/2025");
  EXPECT_EQ(code(), 0);
  FM_Data_Delete(data, e());
  FM_FixPt_Delete(n, e());
  FM_DateTime_Delete(d, e());
}

}  // namespace
}  // namespace vesko_test
