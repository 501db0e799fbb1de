#include <string>

#include <gtest/gtest.h>

#include "tests/library/lua_harness.h"

namespace vesko {
namespace {

class Utf8SubstringTest : public ::testing::Test {
 protected:
  // s:utf8sub(first, last) with Lua expressions for the indexes.
  std::string sub(const std::string& s, const char* first, const char* last = "nil") {
    return lua.run(std::string("return (...):utf8sub(") + first + ", " + last + ")", {s}).at(0);
  }

  LuaHarness lua;
};

const std::string kHello = "h\xC3\xA9llo";         // héllo
const std::string kHelle = "h\xC3\xA9ll\xC3\xA9";  // héllé

TEST_F(Utf8SubstringTest, SelectsCharactersByIndex) {
  EXPECT_EQ(sub(kHello, "2", "3"), "\xC3\xA9l");
  EXPECT_EQ(sub(kHello, "2"), "\xC3\xA9llo");
  EXPECT_EQ(sub(kHello, "0", "1"), "h");
  EXPECT_EQ(sub(kHello, "3", "0"), "");
  EXPECT_EQ(sub(kHello, "-2"), "lo");
  EXPECT_EQ(sub(kHello, "1", "-2"), "h\xC3\xA9ll");
  EXPECT_EQ(sub(kHello, "10"), "");
  EXPECT_EQ(sub(kHello, "1", "5"), kHello);
  EXPECT_EQ(sub(kHello, "-3", "-2"), "ll");
}

TEST_F(Utf8SubstringTest, EdgesOfShortStrings) {
  EXPECT_EQ(lua.error("return (''):utf8sub(2)"), "invalid index (arg #2)");
  EXPECT_EQ(sub("", "1"), "");
  EXPECT_EQ(sub("abc", "4"), "");
  EXPECT_EQ(lua.error("return ('abc'):utf8sub(4, 5)"), "invalid index (arg #2)");
  const std::string missing = lua.errorWithPosition("return ('abc'):utf8sub()");
  // Raised inside the script, reported at the caller's line.
  EXPECT_TRUE(missing.starts_with("test:1: ")) << missing;
  EXPECT_TRUE(missing.ends_with(": bad argument #1 to 'sub' (argument expected, got nil)"))
      << missing;
}

// Negative indexes count characters back from the last one, also when it
// takes several bytes.
TEST_F(Utf8SubstringTest, NegativeIndexesCountWholeCharactersFromTheEnd) {
  EXPECT_EQ(sub(kHelle, "-1"), "\xC3\xA9");
  EXPECT_EQ(sub(kHelle, "-2"), "l\xC3\xA9");
  EXPECT_EQ(sub(kHelle, "1", "-2"), "h\xC3\xA9ll");
  EXPECT_EQ(sub(kHelle, "-2", "-2"), "l");
  EXPECT_EQ(sub(kHelle, "-5"), kHelle);
  EXPECT_EQ(sub(kHelle, "-6"), "");
  EXPECT_EQ(sub(kHelle, "1", "-1"), kHelle);
  EXPECT_EQ(sub("\xE2\x82\xAC", "-1"), "\xE2\x82\xAC");
  EXPECT_EQ(sub("a\xF0\x9F\x98\x80", "-1", "-1"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(sub("a\xF0\x9F\x98\x80", "-2", "-2"), "a");
  // A string that ends ill-formed is counted from its last byte, as before.
  EXPECT_EQ(sub("ab\xA9", "-2"), "b\xA9");
}

TEST_F(Utf8SubstringTest, CharactersIteratesAndThenEnds) {
  EXPECT_EQ(lua.run("local t = {} for c in string.utf8characters(...) do t[#t + 1] = c end "
                    "return unpack(t)",
                    {kHello}),
            (Results{"h", "\xC3\xA9", "l", "l", "o"}));
  EXPECT_EQ(lua.error("local next = string.utf8characters('a') next() next() next()"),
            "bad argument #2 to 'nextutf8' (number expected, got nil)");
  EXPECT_EQ(lua.error("for c in string.utf8characters('a\\128') do end"), "invalid utf-8 string");
}

}  // namespace
}  // namespace vesko
