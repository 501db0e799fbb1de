#include <string>

#include <gtest/gtest.h>

#include "tests/library/lua_harness.h"

namespace vesko {
namespace {

class Utf8StringsTest : public ::testing::Test {
 protected:
  LuaHarness lua;
};

const std::string kAE = "a\xC3\xA9";  // aé

TEST_F(Utf8StringsTest, NextUtf8StepsOverOneCharacter) {
  const char* next = "return string.nextutf8(...)";
  EXPECT_EQ(lua.run("return string.nextutf8(..., 1)", {kAE}), (Results{"2", "a"}));
  EXPECT_EQ(lua.run("return string.nextutf8(..., 2)", {kAE}), (Results{"4", "\xC3\xA9"}));
  EXPECT_EQ(lua.error("return string.nextutf8(..., 3)", {kAE}), "invalid utf-8 string");
  EXPECT_EQ(lua.run("return string.nextutf8(..., 4)", {kAE}), Results{"nil"});
  EXPECT_EQ(lua.error("return string.nextutf8(..., 0)", {kAE}), "bad index value : 0");
  EXPECT_EQ(lua.run("return string.nextutf8(..., -1)", {kAE}), Results{"nil"});
  // Only the bytes before the first NUL count.
  EXPECT_EQ(lua.run(next, {std::string_view("a\0b", 3), "2"}), Results{"nil"});
  EXPECT_EQ(lua.error("return string.nextutf8('a')"),
            "bad argument #2 to 'nextutf8' (number expected, got no value)");
}

TEST_F(Utf8StringsTest, Utf8LenCountsCharactersBeforeTheFirstNul) {
  EXPECT_EQ(lua.run("return (...):utf8len()", {kAE}), Results{"2"});
  EXPECT_EQ(lua.run("return (''):utf8len()"), Results{"0"});
  EXPECT_EQ(lua.error("return (...):utf8len()", {"\xC0\x80"}), "invalid utf-8 string");
  EXPECT_EQ(lua.run("return (...):utf8len()", {std::string_view("ab\0\xFF", 4)}), Results{"2"});
}

TEST_F(Utf8StringsTest, SeekUtf8OnOneByteCharacters) {
  const char* seek = "return ('abc'):seekutf8(...)";
  EXPECT_EQ(lua.run(seek, {"1", "3"}), Results{"4"});
  EXPECT_EQ(lua.run(seek, {"3", "1"}), Results{"4"});
  EXPECT_EQ(lua.run(seek, {"3", "2"}), Results{"nil"});
  EXPECT_EQ(lua.run(seek, {"3", "-1"}), Results{"2"});
  EXPECT_EQ(lua.run(seek, {"1", "-1"}), Results{"nil"});
  EXPECT_EQ(lua.run(seek, {"5", "0"}), Results{"5"});
  EXPECT_EQ(lua.run(seek, {"-7", "0"}), Results{"-7"});
  EXPECT_EQ(lua.error(seek, {"4", "1"}), "invalid index (arg #2)");
  EXPECT_EQ(lua.error(seek, {"0", "1"}), "invalid index (arg #2)");
  EXPECT_EQ(lua.run(seek, {"1", "4"}), Results{"nil"});
  EXPECT_EQ(lua.run(seek, {"3", "-2147483648"}), Results{"nil"});
}

TEST_F(Utf8StringsTest, SeekUtf8OverMultiByteCharacters) {
  const char* seek = "local s, i, n = ... return s:seekutf8(i, n)";
  EXPECT_EQ(lua.run(seek, {kAE, "1", "1"}), Results{"2"});
  EXPECT_EQ(lua.run(seek, {kAE, "2", "1"}), Results{"nil"});  // a final é cannot be passed
  EXPECT_EQ(lua.run(seek, {"\xC2\xA9"
                           "a",
                           "3", "-1"}),
            Results{"1"});
  EXPECT_EQ(lua.run(seek, {"\xED\x80\x80"
                           "a",
                           "4", "-1"}),
            Results{"1"});
  EXPECT_EQ(lua.run(seek, {"\xE2\x82\xAC"
                           "a",
                           "4", "-1"}),
            Results{"1"});
  EXPECT_EQ(lua.run(seek, {"x\xF0\x9F\x98\x80\xE2\x82\xAC"
                           "a",
                           "9", "-2"}),
            Results{"2"});
  EXPECT_EQ(lua.run(seek, {"x\xF0\x9F\x98\x80\xE2\x82\xAC"
                           "a",
                           "1", "3"}),
            Results{"9"});
  // Landing inside a character, or behind an ill-formed one, gives nil.
  EXPECT_EQ(lua.run(seek, {"\xC2\xA9"
                           "a",
                           "2", "1"}),
            Results{"nil"});
  EXPECT_EQ(lua.run(seek, {"\xC0\x80"
                           "a",
                           "3", "-1"}),
            Results{"nil"});
}

TEST_F(Utf8StringsTest, Utf8CodeWantsExactlyOneCharacter) {
  const char* code = "return string.utf8code(...)";
  EXPECT_EQ(lua.run(code, {"A"}), Results{"65"});
  EXPECT_EQ(lua.run(code, {"\xC3\xA9"}), Results{"233"});
  EXPECT_EQ(lua.run(code, {"\xEF\xBB\xBF"}), Results{"0"});
  EXPECT_EQ(lua.run(code, {std::string_view("\0", 1)}), Results{"0"});
  EXPECT_EQ(lua.error(code, {""}), "invalid utf-8 string");
  EXPECT_EQ(lua.error(code, {"ab"}), "invalid utf-8 string");
  EXPECT_EQ(lua.error(code, {std::string_view("a\0", 2)}), "invalid utf-8 string");
  EXPECT_EQ(lua.error(code, {"\xC3"}), "invalid utf-8 string");
}

TEST_F(Utf8StringsTest, Utf8CharEncodesCodePoints) {
  const char* encode = "return string.utf8char(...)";
  EXPECT_EQ(lua.run(encode, {"0"}), Results{"\xEF\xBB\xBF"});
  EXPECT_EQ(lua.run(encode, {"233"}), Results{"\xC3\xA9"});
  EXPECT_EQ(lua.run(encode, {"1114111"}), Results{"\xF4\x8F\xBF\xBF"});
  for (const char* bad : {"55296", "57343", "1114112", "-1"}) {
    EXPECT_EQ(lua.error(encode, {bad}), "invalid utf-8 code") << bad;
  }
  // Every other code point comes back from utf8code, but for U+FEFF: its
  // encoding is the byte-order mark, which stands for 0.
  EXPECT_EQ(lua.run("local char, code = string.utf8char, string.utf8code "
                    "for c = 1, 0x10FFFF do "
                    "  if (c < 0xD800 or c > 0xDFFF) and c ~= 0xFEFF and code(char(c)) ~= c then "
                    "    return c "
                    "  end "
                    "end return code(char(0xFEFF))"),
            Results{"0"});
}

// Every position of ill-formed strings: each call answers or raises one of
// the functions' own errors, and reads nothing outside the string.
TEST_F(Utf8StringsTest, IllFormedStringsAtEveryPosition) {
  const std::string samples[] = {
      "\xE2\x82",         "\xF0\x9F\x98",     "a\xC3",    "\xC3\xA9\xA9",
      "\xED\xA0\x80z",    "\xF4\x90\x80\x80", "\xFF\xFE", std::string("\xC3\0\xA9", 3),
      "\xE2\x82\xAC\x80", "\x80\x80\x80\x80",
  };
  for (const std::string& s : samples) {
    SCOPED_TRACE(testing::PrintToString(s));
    EXPECT_EQ(lua.run(R"(
      local s = ...
      for i = -2, #s + 2 do
        local ok, err = pcall(string.nextutf8, s, i)
        if not ok and err ~= 'invalid utf-8 string' and err ~= 'bad index value : 0' then
          return err
        end
        for n = -5, 5 do
          ok, err = pcall(string.seekutf8, s, i, n)
          if not ok and err ~= 'invalid index (arg #2)' then return err end
        end
      end
      return 'ok')",
                      {s}),
              Results{"ok"});
  }
}

}  // namespace
}  // namespace vesko
