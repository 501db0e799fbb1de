#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/library/lua_harness.h"

namespace vesko {
namespace {

class CodecsTest : public ::testing::Test {
 protected:
  Results decode64(std::string_view text) { return lua.run("return base64.decode(...)", {text}); }
  Results decode85(std::string_view text) { return lua.run("return ascii85.decode(...)", {text}); }

  LuaHarness lua;
};

std::string randomBytes(std::mt19937& random, std::size_t size) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(byte(random));
  return s;
}

TEST_F(CodecsTest, OpenersMakeGlobalTablesWithVersions) {
  EXPECT_EQ(
      lua.run("return base64.version, ascii85.version"),
      (Results{"base64 library for Lua 5.1 / Mar 2010", "ascii85 library for Lua 5.1 / Mar 2010"}));
  EXPECT_EQ(lua.run("return package.loaded.base64 == base64, require('ascii85') == ascii85"),
            (Results{"true", "true"}));
}

TEST_F(CodecsTest, Base64Encodes) {
  const char* encode = "return base64.encode(...)";
  EXPECT_EQ(lua.run(encode, {""}), Results{""});
  EXPECT_EQ(lua.run(encode, {"A"}), Results{"QQ=="});
  EXPECT_EQ(lua.run(encode, {"AB"}), Results{"QUI="});
  EXPECT_EQ(lua.run(encode, {"ABC"}), Results{"QUJD"});
  EXPECT_EQ(lua.run(encode, {std::string_view("\0\xFF\xFE", 3)}), Results{"AP/+"});
  EXPECT_EQ(lua.run("return base64.encode(12)"), Results{"MTI="});
}

TEST_F(CodecsTest, Base64Decodes) {
  EXPECT_EQ(decode64("QQ=="), Results{"A"});
  EXPECT_EQ(decode64("QUJD RA=="), Results{"ABCD"});
  EXPECT_EQ(decode64(" Q\bU\tJ\nD\fR\rA = = "), Results{"ABCD"});
  EXPECT_EQ(decode64("QQ==garbage"), Results{"A"});
  EXPECT_EQ(decode64("QUJD=QUJD"), Results{"ABC"});
  EXPECT_EQ(decode64("Q="), Results{""});
  EXPECT_EQ(decode64(""), Results{""});
  EXPECT_EQ(decode64("Q-Q=="), Results{});
  EXPECT_EQ(decode64("QUJD\vRA=="), Results{});
  EXPECT_EQ(decode64("QUJD\xC3\xA9"), Results{});
}

// Unpadded input keeps its last group; a lone character there is lost data.
TEST_F(CodecsTest, Base64EndOfInputCompletesTheGroup) {
  EXPECT_EQ(decode64("QQ"), Results{"A"});
  EXPECT_EQ(decode64("QUI"), Results{"AB"});
  EXPECT_EQ(decode64("QUJDRA"), Results{"ABCD"});
  EXPECT_EQ(decode64("QUJDR"), Results{});
  EXPECT_EQ(decode64("QUJD R \n"), Results{});
}

TEST_F(CodecsTest, Base64NulInsideTheInputIsMalformed) {
  EXPECT_EQ(decode64(std::string_view("QUJD\0RA==", 9)), Results{});
  EXPECT_EQ(decode64(std::string_view("QQ==\0", 5)), Results{"A"});  // after "=": unread
}

TEST_F(CodecsTest, Ascii85Encodes) {
  const char* encode = "return ascii85.encode(...)";
  EXPECT_EQ(lua.run(encode, {""}), Results{"<~~>"});
  EXPECT_EQ(lua.run(encode, {"A"}), Results{"<~5l~>"});
  EXPECT_EQ(lua.run(encode, {std::string_view("\0\0\0\0", 4)}), Results{"<~z~>"});
  EXPECT_EQ(lua.run(encode, {std::string_view("\0\0\0\0A", 5)}), Results{"<~z5l~>"});
  EXPECT_EQ(lua.run(encode, {std::string_view("\0\0", 2)}), Results{"<~!!!~>"});
  EXPECT_EQ(lua.run(encode, {"\xFF\xFF\xFF\xFF"}), Results{"<~s8W-!~>"});
}

TEST_F(CodecsTest, Ascii85Decodes) {
  EXPECT_EQ(decode85("<~5l~>"), Results{"A"});
  EXPECT_EQ(decode85("<~z~>"), Results{std::string(4, '\0')});
  EXPECT_EQ(decode85("<~s8W-!~>"), Results{"\xFF\xFF\xFF\xFF"});
  EXPECT_EQ(decode85(std::string_view("<~ 5\n\0l\x7F~>tail", 14)), Results{"A"});
  // "z" inside a group writes its zeros there; the group stays pending.
  EXPECT_EQ(decode85("<~5zl~>"), Results{std::string(4, '\0') + "A"});
  EXPECT_EQ(decode85("<~5~>"), Results{""});
  EXPECT_EQ(decode85(" <~5l~>"), Results{});
  EXPECT_EQ(decode85("<~5l~x"), Results{});
  EXPECT_EQ(decode85("<~5v~>"), Results{});
  EXPECT_EQ(decode85("<~5l\xC3\xA9~>"), Results{});
  EXPECT_EQ(decode85("<"), Results{});
}

// Groups above 2^32 - 1 and input without its "~>" are malformed, not
// wrapped or cut.
TEST_F(CodecsTest, Ascii85RejectsOverflowAndMissingEnd) {
  EXPECT_EQ(decode85("<~s8W-\"~>"), Results{});
  EXPECT_EQ(decode85("<~uuuuu~>"), Results{});
  EXPECT_EQ(decode85("<~uu~>"), Results{});  // a short group rounds up past 2^32 - 1
  EXPECT_EQ(decode85("<~5l"), Results{});
  EXPECT_EQ(decode85("<~5l~"), Results{});
  EXPECT_EQ(decode85("<~"), Results{});
}

TEST_F(CodecsTest, RandomBytesRoundTrip) {
  std::mt19937 random(85);
  for (std::size_t size = 0; size < 300; size += 1 + size / 8) {
    for (int round = 0; round < 4; ++round) {
      const std::string data = randomBytes(random, size);
      ASSERT_EQ(lua.run("local s = ... return base64.decode(base64.encode(s)) == s, "
                        "ascii85.decode(ascii85.encode(s)) == s",
                        {data}),
                (Results{"true", "true"}))
          << testing::PrintToString(data);
    }
  }
  // Long enough to cross many buffer blocks, in both codecs.
  const std::string big = randomBytes(random, 100000) + std::string(50000, '\0');
  EXPECT_EQ(lua.run("local s = ... return base64.decode(base64.encode(s)) == s, "
                    "ascii85.decode(ascii85.encode(s)) == s",
                    {big}),
            (Results{"true", "true"}));
}

}  // namespace
}  // namespace vesko
