// FM_Text_*: encodings, ill-formed input, GetBytes bounds and editing.
#include <cstring>

#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

class TextTest : public HostTest {};

TEST_F(TextTest, EncodingsRoundTripAndSizeCountsUtf16Units) {
  FMText* t = text("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");  // a é 日 😀
  EXPECT_EQ(FM_Text_GetSize(t, e()), 5u);                     // the emoji is a surrogate pair
  EXPECT_EQ(bytes(t), "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(bytes(t, FM_ENCODING_NATIVE), bytes(t));
  // One '?' per character beyond ISO-8859-1, the pair included.
  EXPECT_EQ(bytes(t, FM_ENCODING_ISO_8859_1), "a\xE9??");

  FM_Text_Assign(t, "caf\xE9", FM_ENCODING_ISO_8859_1, e());
  EXPECT_EQ(bytes(t), "caf\xC3\xA9");
  FM_Text_Delete(t, e());
}

TEST_F(TextTest, IllFormedUtf8BecomesOneReplacementPerBadByte) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    std::string input, expected;
  } cases[] = {
      {"ab\xFF"
       "c",
       "ab" + replacement + "c"},
      {"\xC0\xAF", replacement + replacement},                    // overlong
      {"\xED\xA0\x80", replacement + replacement + replacement},  // a surrogate
      {"x\xE6\x97", "x" + replacement + replacement},             // cut short at the end
      {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // > U+10FFFF
  };
  for (const auto& c : cases) {
    FMText* t = text(c.input);
    EXPECT_EQ(bytes(t), c.expected) << c.input;
    FM_Text_Delete(t, e());
  }
}

TEST_F(TextTest, AssignWithLengthKeepsNulsAndReadsNoFurther) {
  FMText* t = FM_Text_Constructor1(e());
  const char source[] = {'a', '\0', 'b', '\xE6'};  // ends inside a character, no NUL after
  FM_Text_AssignWithLength(t, source, 3, FM_ENCODING_UTF8, e());
  EXPECT_EQ(FM_Text_GetSize(t, e()), 3u);
  FM_Text_AssignWithLength(t, source, 4, FM_ENCODING_UTF8, e());
  EXPECT_EQ(FM_Text_GetSize(t, e()), 4u);
  FM_Text_AssignWithLength(t, nullptr, 0, FM_ENCODING_UTF8, e());
  EXPECT_EQ(code(), 0);
  EXPECT_EQ(FM_Text_GetSize(t, e()), 0u);
  FM_Text_Delete(t, e());
}

TEST_F(TextTest, UnknownEncodingFailsAndChangesNothing) {
  FMText* t = text("kept");
  FM_Text_Assign(t, "new", 3, e());
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_EQ(bytes(t), "kept");
  char buffer[8] = "xxxxxxx";
  FM_Text_GetBytes(t, buffer, sizeof buffer, 0, FM_TEXT_TO_END, 9, e());
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_STREQ(buffer, "");
  FM_Text_Delete(t, e());
}

TEST_F(TextTest, AssignUnicodeAndLoneSurrogates) {
  FMText* t = FM_Text_Constructor1(e());
  const uint16_t units[] = {'h', 0xD83D, 0xDE00, 0xDC00, 'i', 0};
  FM_Text_AssignUnicode(t, units, e());
  EXPECT_EQ(FM_Text_GetSize(t, e()), 5u);
  EXPECT_EQ(bytes(t), "h\xF0\x9F\x98\x80\xEF\xBF\xBDi");
  // Cutting a pair in two leaves a lone half on each side.
  EXPECT_EQ(bytes(t, FM_ENCODING_UTF8, 0, 2), "h\xEF\xBF\xBD");
  EXPECT_EQ(bytes(t, FM_ENCODING_UTF8, 2, 1), "\xEF\xBF\xBD");
  FM_Text_Delete(t, e());
}

TEST_F(TextTest, GetBytesStaysWithinCapacityAndCutsAtWholeCharacters) {
  FMText* t = text(
      "ab\xE6\x97\xA5"
      "c");  // a b 日 c: 6 bytes
  const std::string expected[] = {"",
                                  "",
                                  "a",
                                  "ab",
                                  "ab",
                                  "ab",
                                  "ab\xE6\x97\xA5",
                                  "ab\xE6\x97\xA5"
                                  "c",
                                  "ab\xE6\x97\xA5"
                                  "c"};
  char buffer[16];
  for (uint32_t capacity = 0; capacity <= 8; ++capacity) {
    std::memset(buffer, '#', sizeof buffer);
    FM_Text_GetBytes(t, buffer, capacity, 0, FM_TEXT_TO_END, FM_ENCODING_UTF8, e());
    for (uint32_t i = capacity; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '#') << capacity;
    if (capacity > 0) {
      EXPECT_EQ(std::string(buffer), expected[capacity]) << capacity;
    }
  }
  // Positions past the end write the empty text.
  FM_Text_GetBytes(t, buffer, sizeof buffer, 99, FM_TEXT_TO_END, FM_ENCODING_UTF8, e());
  EXPECT_STREQ(buffer, "");
  FM_Text_Delete(t, e());
}

TEST_F(TextTest, EditingClampsPositions) {
  FMText* t = text("hello");
  FMText* other = text("XY");
  FM_Text_InsertText(t, other, 2, e());
  EXPECT_EQ(bytes(t), "heXYllo");
  FM_Text_InsertText(t, other, 1000, e());
  EXPECT_EQ(bytes(t), "heXYlloXY");
  FM_Text_DeleteText(t, 7, 1000, e());
  EXPECT_EQ(bytes(t), "heXYllo");
  FM_Text_DeleteText(t, 1000, 1, e());
  FM_Text_DeleteText(t, 2, 2, e());
  EXPECT_EQ(bytes(t), "hello");
  FM_Text_SetText(t, t, 1, 3, e());  // from itself
  EXPECT_EQ(bytes(t), "ell");
  FM_Text_AppendText(t, t, 0, FM_TEXT_TO_END, e());
  EXPECT_EQ(bytes(t), "ellell");
  FM_Text_AppendText(t, other, 5, 1, e());
  EXPECT_EQ(bytes(t), "ellell");
  FM_Text_SetText(t, other, 1, FM_TEXT_TO_END, e());
  EXPECT_EQ(bytes(t), "Y");
  EXPECT_EQ(code(), 0);
  FM_Text_Delete(other, e());
  FM_Text_Delete(t, e());
}

TEST_F(TextTest, FindAndCaseInsensitiveEquality) {
  FMText* t = text("Vesko_Version( { x } )");
  FMText* paren = text("(");
  FMText* absent = text("]");
  EXPECT_EQ(FM_Text_Find(t, paren, 0, e()), 13u);
  EXPECT_EQ(FM_Text_Find(t, paren, 14, e()), FM_TEXT_NOT_FOUND);
  EXPECT_EQ(FM_Text_Find(t, absent, 0, e()), FM_TEXT_NOT_FOUND);
  EXPECT_EQ(FM_Text_Find(t, paren, 1000, e()), FM_TEXT_NOT_FOUND);

  FMText* upper = text("FULL");
  FMText* lower = text("full");
  FMText* longer = text("fuller");
  FMText* accented = text("\xC3\x89");  // É is not folded: only ASCII letters are
  FMText* accentedLower = text("\xC3\xA9");
  EXPECT_NE(FM_Text_operatorEQ(upper, lower, e()), 0);
  EXPECT_EQ(FM_Text_operatorEQ(upper, longer, e()), 0);
  EXPECT_EQ(FM_Text_operatorEQ(accented, accentedLower, e()), 0);
  for (FMText* each : {t, paren, absent, upper, lower, longer, accented, accentedLower})
    FM_Text_Delete(each, e());
}

}  // namespace
}  // namespace vesko_test
