// FM_FixPt_* and the text form of numbers, seen through FM_Data.
#include <cmath>
#include <limits>

#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

class NumberTest : public HostTest {
 protected:
  // The text form a number data shows for `value` at `precision`.
  std::string shown(double value, int32_t precision = 16) {
    FMFixPt* n = FM_FixPt_Constructor1(0, precision, e());
    FM_FixPt_AssignDouble(n, value, e());
    FMData* d = FM_Data_Constructor1(e());
    FM_Data_SetAsNumber(d, n, FM_KIND_NUMBER, e());
    const std::string text = bytes(FM_Data_GetAsText(d, e()));
    FM_Data_Delete(d, e());
    FM_FixPt_Delete(n, e());
    return text;
  }
};

TEST_F(NumberTest, TextFormHasNoExponentNoTrailingZerosAndRoundsToPrecision) {
  EXPECT_EQ(shown(2), "2");
  EXPECT_EQ(shown(0.1), "0.1");
  EXPECT_EQ(shown(0.1 + 0.2), "0.3");
  EXPECT_EQ(shown(-2.5), "-2.5");
  EXPECT_EQ(shown(1e20), "100000000000000000000");
  EXPECT_EQ(shown(123.456), "123.456");
  EXPECT_EQ(shown(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(shown(1e-20), "0");
  EXPECT_EQ(shown(-1e-20), "0");
  EXPECT_EQ(shown(3.14159, 2), "3.14");
  EXPECT_EQ(shown(2.5, 0), "3");  // half away from zero
  EXPECT_EQ(shown(-2.5, 0), "-3");
  EXPECT_EQ(shown(9.995, 2), "10");  // rounds the decimal a user reads, not 9.99499... in binary
  EXPECT_EQ(shown(99.96, 1), "100");
  EXPECT_EQ(shown(std::numeric_limits<double>::infinity()), "?");
  EXPECT_EQ(shown(std::nan("")), "?");
}

TEST_F(NumberTest, AsLongTruncatesAndSaturates) {
  FMFixPt* n = FM_FixPt_Constructor1(7, 16, e());
  EXPECT_EQ(FM_FixPt_AsLong(n, e()), 7);
  const struct {
    double value;
    int32_t expected;
  } cases[] = {{2.9, 2},
               {-2.9, -2},
               {3e9, std::numeric_limits<int32_t>::max()},
               {-3e9, std::numeric_limits<int32_t>::min()},
               {std::numeric_limits<double>::infinity(), std::numeric_limits<int32_t>::max()},
               {std::nan(""), 0}};
  for (const auto& c : cases) {
    FM_FixPt_AssignDouble(n, c.value, e());
    EXPECT_EQ(FM_FixPt_AsLong(n, e()), c.expected) << c.value;
  }
  FM_FixPt_AssignInt(n, -5, e());
  EXPECT_EQ(FM_FixPt_AsFloat(n, e()), -5.0);
  FM_FixPt_Delete(n, e());
}

TEST_F(NumberTest, NumberOfATextReadsItsLeadingNumber) {
  const struct {
    const char* text;
    double expected;
  } cases[] = {{"42", 42}, {"  -3.5kg", -3.5}, {".5", 0.5}, {"+7", 7}, {"1e3", 1000},
               {"1e", 1},  {"abc", 0},         {"", 0},     {"-", 0},  {"1e999", HUGE_VAL}};
  for (const auto& c : cases) {
    vesko_host::Value value;
    ASSERT_EQ(vesko_host::evaluate(std::string("GetAsNumber(\"") + c.text + "\")", &value), 0);
    EXPECT_EQ(value.number, c.expected) << c.text;
  }
}

}  // namespace
}  // namespace vesko_test
