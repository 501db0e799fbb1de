#include <string>

#include <gtest/gtest.h>

#include "library/utf8_validity.h"
#include "tests/library/lua_harness.h"

namespace vesko {
namespace {

const unsigned char* bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.c_str());
}

struct WellFormed {
  std::string text;
  const char* code;
};

// The lowest and highest sequence of every row of the well-formed table.
const WellFormed kWellFormed[] = {
    {"\x01", "1"},
    {"\x7F", "127"},
    {"\xC2\x80", "128"},
    {"\xDF\xBF", "2047"},
    {"\xE0\xA0\x80", "2048"},
    {"\xE0\xBF\xBF", "4095"},
    {"\xE1\x80\x80", "4096"},
    {"\xEC\xBF\xBF", "53247"},
    {"\xED\x80\x80", "53248"},
    {"\xED\x9F\xBF", "55295"},
    {"\xEE\x80\x80", "57344"},
    {"\xEF\xBF\xBF", "65535"},
    {"\xF0\x90\x80\x80", "65536"},
    {"\xF0\xBF\xBF\xBF", "262143"},
    {"\xF1\x80\x80\x80", "262144"},
    {"\xF3\xBF\xBF\xBF", "1048575"},
    {"\xF4\x80\x80\x80", "1048576"},
    {"\xF4\x8F\xBF\xBF", "1114111"},
};

// Just outside each row: lone continuations, overlongs, surrogates, values
// past U+10FFFF, bad continuations and sequences cut short.
const std::string kIllFormed[] = {
    "\x80",
    "\xBF",
    "\xC0\x80",
    "\xC1\xBF",
    "\xC2\x7F",
    "\xC2\xC0",
    "\xE0\x9F\xBF",
    "\xE0\xA0\x7F",
    "\xE1\x7F\x80",
    "\xEC\xC0\x80",
    "\xED\xA0\x80",
    "\xED\xBF\xBF",
    "\xEE\x80\xC0",
    "\xF0\x8F\xBF\xBF",
    "\xF0\x90\x80\x7F",
    "\xF3\xC0\x80\x80",
    "\xF4\x90\x80\x80",
    "\xF5\x80\x80\x80",
    "\xFF",
    "\xC2",
    "\xE1\x80",
    "\xF1\x80\x80",
};

TEST(Utf8TableTest, EveryRowIsRecognisedByTheRoutines) {
  for (const auto& [text, code] : kWellFormed) {
    SCOPED_TRACE(code);
    const int size = static_cast<int>(text.size());
    EXPECT_EQ(utf8CharLength(bytes(text)), size);
    EXPECT_EQ(utf8PrevCharLength(bytes(text), text.size()), size);
    EXPECT_EQ(utf8ValidPrefixLength(("a" + text + text).c_str()), 1 + 2 * text.size());
  }
  for (const std::string& text : kIllFormed) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(utf8CharLength(bytes(text)), 0);
    EXPECT_NE(utf8PrevCharLength(bytes(text), text.size()), static_cast<int>(text.size()));
    EXPECT_EQ(utf8ValidPrefixLength(("a" + text + "b").c_str()), 1u);
  }
  EXPECT_EQ(utf8ValidPrefixLength(nullptr), 0u);
  EXPECT_EQ(utf8ValidPrefixLength("ab\0\xFF"), 2u);
}

TEST(Utf8TableTest, EveryRowIsRecognisedByTheStringFunctions) {
  LuaHarness lua;
  for (const auto& [text, code] : kWellFormed) {
    SCOPED_TRACE(code);
    const std::string after = std::to_string(text.size() + 1);
    EXPECT_EQ(lua.run("return (...):isvalidutf8(), (...):utf8len(), (...):utf8code()", {text}),
              (Results{"true", "1", code}));
    EXPECT_EQ(lua.run("return string.nextutf8(..., 1)", {text}), (Results{after, text}));
    EXPECT_EQ(lua.run("return string.utf8char(...)", {code}), Results{text});
    EXPECT_EQ(
        lua.run("local s = ... return s:seekutf8(1, 1), (s .. 'a'):seekutf8(#s + 1, -1)", {text}),
        (Results{text.size() == 1 ? "2" : "nil", "1"}));
  }
  for (const std::string& text : kIllFormed) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(lua.run("return (...):isvalidutf8(), (...):seekutf8(1, 1)", {text}),
              (Results{"false", "nil"}));
    EXPECT_EQ(lua.error("return (...):utf8len()", {text}), "invalid utf-8 string");
    EXPECT_EQ(lua.error("return (...):nextutf8(1)", {text}), "invalid utf-8 string");
    EXPECT_EQ(lua.error("return (...):utf8code()", {text}), "invalid utf-8 string");
  }
}

TEST(Utf8ValidityTest, ValidityAndAsciiTestsStopAtTheFirstNul) {
  LuaHarness lua;
  EXPECT_EQ(lua.run("return (''):isvalidutf8(), ('\\195\\169'):isvalidutf8()"),
            (Results{"true", "true"}));
  EXPECT_EQ(lua.run("return (...):isvalidutf8()", {std::string_view("a\0\xFF", 3)}),
            Results{"true"});
  EXPECT_EQ(lua.run("return (''):is7bitascii(), ('\\195\\169'):is7bitascii()"),
            (Results{"true", "false"}));
  EXPECT_EQ(lua.run("return (...):is7bitascii()", {std::string_view("a\0\xFF", 3)}),
            Results{"true"});
  EXPECT_EQ(lua.run("return string.is7bitascii(127), string.isvalidutf8(12)"),
            (Results{"true", "true"}));
  EXPECT_EQ(lua.error("string.isvalidutf8()"),
            "bad argument #1 to 'isvalidutf8' (string expected, got no value)");
}

}  // namespace
}  // namespace vesko
