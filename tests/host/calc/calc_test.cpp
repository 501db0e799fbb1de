// The calculation language: constants, operators, built-ins and errors.
#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

class CalcTest : public HostTest {
 protected:
  // The result's text form, or "error N".
  std::string calc(const std::string& expression) {
    vesko_host::Value result;
    const int16_t error = vesko_host::evaluate(expression, &result);
    if (error != 0) return "error " + std::to_string(error);
    return vesko_host::textForm(result);
  }
  int kind(const std::string& expression) {
    vesko_host::Value result;
    vesko_host::evaluate(expression, &result);
    return result.kind;
  }
};

TEST_F(CalcTest, Constants) {
  EXPECT_EQ(calc("42"), "42");
  EXPECT_EQ(calc("  3.25 "), "3.25");
  EXPECT_EQ(calc(".5"), "0.5");
  EXPECT_EQ(calc("1e3"), "1000");
  EXPECT_EQ(calc("\"plain\""), "plain");
  EXPECT_EQ(calc(R"("say \"hi\" \\ back")"), R"(say "hi" \ back)");
  EXPECT_EQ(calc(R"("a\nb")"), R"(a\nb)");  // other backslashes stand for themselves
  EXPECT_EQ(calc("\"one\xC2\xB6two\""), "one\rtwo");
  EXPECT_EQ(calc("\"pilcrow \\\xC2\xB6\""), "pilcrow \xC2\xB6");
  EXPECT_EQ(calc("\"a\" & \xC2\xB6 & \"b\""), "a\rb");
  EXPECT_EQ(calc("\"\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9\""), "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9");
  EXPECT_EQ(calc("1 // the rest is a comment"), "1");
  EXPECT_EQ(calc("1 /* two */ + 2"), "3");
}

TEST_F(CalcTest, ArithmeticAndPrecedence) {
  EXPECT_EQ(calc("1 + 2 * 3"), "7");
  EXPECT_EQ(calc("(1 + 2) * 3"), "9");
  EXPECT_EQ(calc("7 / 2 - 1"), "2.5");
  EXPECT_EQ(calc("2 ^ 3 ^ 2"), "64");  // left to right
  EXPECT_EQ(calc("-2 ^ 2"), "4");      // the sign binds tightest
  EXPECT_EQ(calc("--3"), "3");
  EXPECT_EQ(calc("1 / 0"), "?");
  EXPECT_EQ(calc("\"4\" * \"2.5\""), "10");
  EXPECT_EQ(calc("1 + 2 & 3"), "33");  // & is looser than +
  EXPECT_EQ(calc("\"n=\" & 0.1 + 0.2"), "n=0.3");
}

TEST_F(CalcTest, DateArithmeticKeepsTheKind) {
  EXPECT_EQ(calc("Date(12; 31; 2025) + 1"), "1/1/2026");
  EXPECT_EQ(kind("Date(12; 31; 2025) + 1"), FM_KIND_DATE);
  EXPECT_EQ(calc("Date(3; 1; 2024) - Date(2; 1; 2024)"), "29");
  EXPECT_EQ(calc("Time(1; 0; 0) + 30"), "1:00:30");
  EXPECT_EQ(calc("Timestamp(Date(1; 1; 2026); Time(0; 0; 0)) - 1"), "12/31/2025 23:59:59");
}

TEST_F(CalcTest, ComparisonAndLogic) {
  EXPECT_EQ(calc("\"abc\" = \"ABC\""), "1");
  EXPECT_EQ(calc("\"abc\" < \"abd\""), "1");
  EXPECT_EQ(calc("\"10\" = 10"), "1");
  EXPECT_EQ(calc("2 <> 3"), "1");
  EXPECT_EQ(calc("2 \xE2\x89\xA0 2"), "0");  // ≠
  EXPECT_EQ(calc("2 \xE2\x89\xA4 2"), "1");  // ≤
  EXPECT_EQ(calc("1 \xE2\x89\xA5 2"), "0");  // ≥
  EXPECT_EQ(calc("3 >= 3 and 2 <= 1"), "0");
  EXPECT_EQ(calc("1 or 0 and 0"), "1");  // and is tighter than or
  EXPECT_EQ(calc("1 xor 1"), "0");
  EXPECT_EQ(calc("NOT 1 = 2"), "1");    // not is looser than =
  EXPECT_EQ(calc("not \"abc\""), "1");  // a text without a number is false
}

TEST_F(CalcTest, TextBuiltinsCountCharacters) {
  EXPECT_EQ(calc("Length(\"h\xC3\xA9llo\xF0\x9F\x98\x80\")"), "6");
  EXPECT_EQ(calc("Length(12.50)"), "4");
  EXPECT_EQ(calc("Left(\"\xC3\xA9t\xC3\xA9\"; 2)"), "\xC3\xA9t");
  EXPECT_EQ(calc("Left(\"abc\"; -1)"), "");
  EXPECT_EQ(calc("Right(\"abcdef\"; 2)"), "ef");
  EXPECT_EQ(calc("Right(\"abc\"; 10)"), "abc");
  EXPECT_EQ(calc("Middle(\"abcdef\"; 2; 3)"), "bcd");
  EXPECT_EQ(calc("Middle(\"abcdef\"; 0; 2)"), "ab");
  EXPECT_EQ(calc("Middle(\"abc\"; 9; 2)"), "");
  EXPECT_EQ(calc("Upper(\"stra\xC3\x9F"
                 "e \xC3\xA9\xC3\xBF \xD0\xB4\xCE\xB1\")"),
            "STRA\xC3\x9F"
            "E \xC3\x89\xC5\xB8 \xD0\x94\xCE\x91");
  EXPECT_EQ(calc("Lower(\"\xC3\x84\xC5\x81 ABC\")"), "\xC3\xA4\xC5\x82 abc");
  EXPECT_EQ(calc("Lower(Char(304)) & Upper(Char(305))"), "iI");
  EXPECT_EQ(calc("Char(65)"), "A");
  EXPECT_EQ(calc("Char(6600065)"), "AB");
  EXPECT_EQ(calc("Char(233)"), "\xC3\xA9");
  EXPECT_EQ(calc("Char(0)"), "");
  EXPECT_EQ(calc("Char(-1)"), "error 1218");
  EXPECT_EQ(calc("Char(55296)"), "error 1218");  // a surrogate
  EXPECT_EQ(calc("Code(\"AB\")"), "6600065");
  EXPECT_EQ(calc("Char(Code(\"x\xC3\xA9z\"))"), "x\xC3\xA9z");
  EXPECT_EQ(calc("Code(\"\")"), "0");
  EXPECT_EQ(calc("GetAsText(1/4) & \"!\""), "0.25!");
  EXPECT_EQ(kind("GetAsText(7)"), FM_KIND_TEXT);
  EXPECT_EQ(calc("GetAsNumber(\"x-1.5y\")"), "0");
  EXPECT_EQ(calc("GetAsNumber(\" -1.5y\")"), "-1.5");
  EXPECT_EQ(calc("GetAsNumber(Date(1; 2; 1))"), "2");
}

TEST_F(CalcTest, DateAndTimeBuiltins) {
  EXPECT_EQ(calc("Date(12; 8; 2026)"), "12/8/2026");
  EXPECT_EQ(calc("Date(13; 1; 2025)"), "1/1/2026");
  EXPECT_EQ(calc("Date(3; 0; 2024)"), "2/29/2024");
  EXPECT_EQ(calc("Date(1; 1; 0)"), "error 1218");
  EXPECT_EQ(calc("Date(1; 1; 4001)"), "error 1218");
  EXPECT_EQ(calc("Date(1; 1; 1e300)"), "error 1218");
  EXPECT_EQ(calc("Time(9; 5; 0)"), "9:05:00");
  EXPECT_EQ(calc("Time(0; 90; 0.25)"), "1:30:00.25");
  EXPECT_EQ(calc("Time(1e300; 0; 0)"), "error 1218");
  EXPECT_EQ(calc("Timestamp(Date(12; 8; 2026); Time(23; 59; 59))"), "12/8/2026 23:59:59");
  EXPECT_EQ(calc("Timestamp(\"12/8/2026\"; \"9:00\")"), "12/8/2026 9:00:00");
  EXPECT_EQ(calc("Timestamp(Date(12; 8; 2026); Time(25; 0; 0))"), "12/9/2026 1:00:00");
  EXPECT_EQ(calc("Timestamp(\"soon\"; 0)"), "error 1218");
  EXPECT_EQ(kind("Get(CurrentDate)"), FM_KIND_DATE);
  EXPECT_EQ(kind("Get(CurrentTime)"), FM_KIND_TIME);
  EXPECT_EQ(kind("Get(CurrentTimestamp)"), FM_KIND_TIMESTAMP);
  EXPECT_EQ(calc("GetAsNumber(Get(CurrentTimestamp)) - GetAsNumber(Timestamp(Get(CurrentDate); "
                 "Get(CurrentTime))) < 2"),
            "1");
}

TEST_F(CalcTest, IfEvaluatesOnlyTheBranchItTakes) {
  EXPECT_EQ(calc("If(1 < 2; \"yes\"; \"no\")"), "yes");
  EXPECT_EQ(calc("if(0; \"yes\"; \"no\")"), "no");
  EXPECT_EQ(calc("If(1; 2; Char(-1))"), "2");
  EXPECT_EQ(calc("0 and Char(-1)"), "0");
  EXPECT_EQ(calc("1 or Char(-1)"), "1");
  EXPECT_EQ(calc("If(1; 2)"), "error 1201");
}

TEST_F(CalcTest, FolderPaths) {
  const std::string temporary = calc("Get(TemporaryPath)");
  EXPECT_EQ(temporary.front(), '/');
  EXPECT_EQ(temporary.back(), '/');
  EXPECT_NE(calc("Get(DocumentsPath)").find("/Documents/"), std::string::npos);
  EXPECT_NE(calc("Get(DesktopPath)").find("/Desktop/"), std::string::npos);
  EXPECT_EQ(calc("Right(Get(FileMakerPath); 1)"), "/");
}

TEST_F(CalcTest, MalformedExpressionsAnswerTheirOwnNumbers) {
  const struct {
    const char* expression;
    int error;
  } cases[] = {
      {"", 1203},          {"1 +", 1203},        {"(1 + 2", 1207},      {"1 + 2)", 1207},
      {"F(1; 2", 1207},    {"\"open", 1206},     {"1 /* open", 1205},   {"1 2", 1212},
      {"1 $ 2", 1204},     {"* 2", 1204},        {"F(;)", 1204},        {"Nope(1)", 1208},
      {"Get(Nope)", 1215}, {"Get(\"x\")", 1215}, {"Left(\"a\")", 1201}, {"Length(1; 2)", 1202},
      {".", 1204},         {"1e999", 1218},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(calc(c.expression), "error " + std::to_string(c.error)) << c.expression;
  }
}

TEST_F(CalcTest, DeepNestingIsRefusedNotFatal) {
  EXPECT_EQ(calc(std::string(100000, '(')), "error 1200");
  std::string chain = "1";
  for (int i = 0; i < 100000; ++i) chain += "+1";
  EXPECT_EQ(calc(chain), "error 1200");
  EXPECT_EQ(calc(std::string(100000, '-') + "1"), "error 1200");
  EXPECT_EQ(calc(std::string(150, '(') + "1" + std::string(150, ')')), "1");
}

TEST_F(CalcTest, FailureMessagesPointAtTheFault) {
  vesko_host::Value result;
  vesko_host::EvaluationFailure failure;
  EXPECT_EQ(vesko_host::evaluate("1 + Nope(2)", &result, &failure), 1208);
  EXPECT_EQ(failure.message, "unknown function Nope at character 5");
  EXPECT_FALSE(failure.external);
}

}  // namespace
}  // namespace vesko_test
