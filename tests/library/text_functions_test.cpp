#include <random>
#include <string>

#include <gtest/gtest.h>

#include "library/edit_distance.h"
#include "library/md5.h"
#include "library/text_functions.h"
#include "tests/library/lua_harness.h"

namespace vesko {
namespace {

class TextFunctionsTest : public ::testing::Test {
 protected:
  LuaHarness lua;
};

std::string distance(LuaHarness& lua, std::string_view a, std::string_view b, const char* limit) {
  return lua
      .run(std::string("local a, b = ... return vesko.damlevlim(a, b, ") + limit + ")", {a, b})
      .at(0);
}

TEST_F(TextFunctionsTest, DamlevlimWorkedValues) {
  struct Case {
    const char* first;
    const char* second;
    const char* limit;
    const char* result;
  };
  for (const Case& c :
       {Case{"saturday", "sunday", "10", "3"}, Case{"saturday", "sunday", "2", "2"},
        Case{"flaw", "lawn", "9", "2"}, Case{"ab", "ba", "5", "1"}, Case{"abcd", "acbd", "9", "1"},
        Case{"cbc", "bcb", "5", "1"}, Case{"ca", "abc", "9", "3"}, Case{"abc", "abc", "1", "0"},
        Case{"", "abc", "2", "2"}, Case{"", "abc", "5", "3"}, Case{"abc", "", "0", "0"}}) {
    SCOPED_TRACE(std::string(c.first) + " / " + c.second + " / " + c.limit);
    EXPECT_EQ(distance(lua, c.first, c.second, c.limit), c.result);
    EXPECT_EQ(distance(lua, c.second, c.first, c.limit), c.result) << "not symmetric";
  }
}

TEST_F(TextFunctionsTest, DamlevlimCountsBytesUpToTheFirstNulAndTheCut) {
  EXPECT_EQ(distance(lua, "\xC3\xA9", "e", "9"), "2");
  EXPECT_EQ(distance(lua, "\xC3\xA9", "\xC3\xA8", "9"), "1");
  EXPECT_EQ(distance(lua, std::string_view("ab\0xyz", 6), "ab", "9"), "0");
  const std::string base(255, 'q');
  EXPECT_EQ(distance(lua, base + std::string(45, 'x'), base + std::string(45, 'y'), "9"), "0");
  EXPECT_EQ(distance(lua, base.substr(1) + "x", base, "9"), "1");
  EXPECT_EQ(distance(lua, std::string(300, 'a'), "", "1000"), "255");
}

TEST_F(TextFunctionsTest, DamlevlimLimitIsATruncatedInteger) {
  EXPECT_EQ(distance(lua, "abcdef", "uvwxyz", "2.9"), "2");
  EXPECT_EQ(distance(lua, "abc", "xyz", "-5"), "0");
  EXPECT_EQ(distance(lua, "", "", "7"), "0");
  EXPECT_EQ(distance(lua, "12", "13", "'5'"), "1");
  EXPECT_EQ(lua.run("return vesko.damlevlim(12, 13, 5)"), Results{"1"});
  EXPECT_EQ(lua.error("vesko.damlevlim('a', 'b')"),
            "bad argument #3 to 'damlevlim' (number expected, got no value)");
  EXPECT_EQ(lua.error("vesko.damlevlim({}, 'b', 1)"),
            "bad argument #1 to 'damlevlim' (string expected, got table)");
}

// The early stop only saves work: with any limit the result is the full
// distance capped at that limit.
TEST(EditDistanceTest, EarlyStopNeverChangesTheResult) {
  std::mt19937 random(6);
  std::uniform_int_distribution<int> letter('a', 'd');
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 500; ++round) {
    std::string a(static_cast<std::size_t>(length(random)), ' ');
    std::string b(static_cast<std::size_t>(length(random)), ' ');
    for (char& c : a) c = static_cast<char>(letter(random));
    for (char& c : b) c = static_cast<char>(letter(random));
    const std::int32_t full = limitedEditDistance(a, b, 1000);
    ASSERT_EQ(full, limitedEditDistance(b, a, 1000)) << a << " / " << b;
    for (std::int32_t limit = 1; limit <= full + 1; ++limit) {
      ASSERT_EQ(limitedEditDistance(a, b, limit), std::min(full, limit)) << a << " / " << b;
    }
  }
}

TEST_F(TextFunctionsTest, Fnv32aReferenceVectors) {
  EXPECT_EQ(lua.run("return vesko.fnv32a('')"), Results{"2166136261"});
  EXPECT_EQ(lua.run("return vesko.fnv32a('a')"), Results{"3826002220"});
  EXPECT_EQ(lua.run("return vesko.fnv32a('foobar')"), Results{"3214735720"});
  EXPECT_EQ(fnv1a32("chongo was here!\n"), 0xD49930D5u);
  EXPECT_EQ(lua.run("return vesko.fnv32a(...)", {std::string_view("\0foobar", 7)}),
            Results{"2166136261"});
}

TEST_F(TextFunctionsTest, Md5Rfc1321TestSuite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : suite) {
    EXPECT_EQ(lua.run("return vesko.md5(...)", {message}), Results{digest}) << message;
  }
}

// Lengths around the 56-byte mark, where the length moves to a second block.
TEST_F(TextFunctionsTest, Md5PaddingAroundBlockBoundaries) {
  const std::pair<std::size_t, const char*> lengths[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
  };
  for (const auto& [length, digest] : lengths) {
    EXPECT_EQ(lua.run("return vesko.md5(...)", {std::string(length, 'a')}), Results{digest})
        << length;
  }
}

TEST_F(TextFunctionsTest, Md5StopsAtNulAndTakesNumbersAsText) {
  EXPECT_EQ(lua.run("return vesko.md5(...)", {std::string_view("abc\0def", 7)}),
            Results{"900150983cd24fb0d6963f7d28e17f72"});
  EXPECT_EQ(lua.run("return vesko.md5(12) == vesko.md5('12')"), Results{"true"});
  EXPECT_EQ(lua.error("vesko.md5()"), "bad argument #1 to 'md5' (string expected, got no value)");
  // The core hashes every byte it is given, none at all from a null view.
  EXPECT_NE(md5Digest(std::string_view("abc\0", 4)), md5Digest("abc"));
  EXPECT_EQ(md5Digest(std::string_view()), md5Digest(""));
}

}  // namespace
}  // namespace vesko
