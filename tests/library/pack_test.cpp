#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/library/lua_harness.h"

namespace vesko {
namespace {

using namespace std::string_literals;

class PackTest : public ::testing::Test {
 protected:
  std::string packed(const char* arguments) {
    return lua.run(std::string("return string.pack(") + arguments + ")").at(0);
  }
  Results unpacked(std::string_view data, const char* format, const char* init = "nil") {
    return lua.run(std::string("return string.unpack(..., '") + format + "', " + init + ")",
                   {data});
  }

  LuaHarness lua;
};

TEST_F(PackTest, PacksEachKindOfCode) {
  EXPECT_EQ(packed("'bb', 1, 2"), "\x01\x02");
  EXPECT_EQ(packed("'>H', 1"), std::string("\0\x01", 2));
  EXPECT_EQ(packed("'<H', 1"), std::string("\x01\0", 2));
  EXPECT_EQ(packed("'p', 'ab'"),
            "\x02"
            "ab");
  EXPECT_EQ(packed("'z', 'ab'"), std::string("ab\0", 3));
  EXPECT_EQ(packed("'A2', 'x', 'yz'"), "xyz");
  EXPECT_EQ(packed("'b0'"), "");
  EXPECT_EQ(packed("'>P', 'ab'"), std::string("\0\x02"
                                              "ab",
                                              4));
  EXPECT_EQ(packed("'>a', 'a'"), std::string("\0\0\0\0\0\0\0\x01"
                                             "a",
                                             9));
  EXPECT_EQ(packed("'>i <i', -2, -2"), "\xFF\xFF\xFF\xFE\xFE\xFF\xFF\xFF");
  EXPECT_EQ(packed("'>f', 1.5"), std::string("\x3F\xC0\0\0", 4));
  EXPECT_EQ(packed("'>d', -2"), std::string("\xC0\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(packed("'c, b = h', -1.9, 255.9, -1"), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(packed("'z', 'a\\0b'"), std::string("a\0b\0", 4));
}

// Out-of-range values keep their low-order bytes; what no integer stands
// for packs as zero.
TEST_F(PackTest, PacksOutOfRangeIntegersByTheirLowBytes) {
  EXPECT_EQ(packed("'>i', 3e9"), "\xB2\xD0\x5E\x00"s);
  EXPECT_EQ(packed("'>b', 256 + 7"), "\x07");
  EXPECT_EQ(packed("'>I', -1"), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(packed("'>I', 2^64 + 2^12"), std::string("\0\0\x10\0", 4));
  EXPECT_EQ(packed("'>I I', 0/0, 1/0"), std::string(8, '\0'));
  EXPECT_EQ(packed("'p', string.rep('x', 257)").substr(0, 2), "\x01x");
}

TEST_F(PackTest, UnpacksEachKindOfCode) {
  EXPECT_EQ(unpacked("\x01\x02", "bb"), (Results{"3", "1", "2"}));
  EXPECT_EQ(unpacked("\x01\x02", "bbb"), (Results{"3", "1", "2"}));
  EXPECT_EQ(unpacked("abc", "A2"), (Results{"3", "ab"}));
  EXPECT_EQ(unpacked("abc", "A0"), (Results{"1", ""}));
  EXPECT_EQ(unpacked(std::string_view("ab\0cd", 5), "zz"), (Results{"7", "ab", "cd"}));
  EXPECT_EQ(unpacked("\x01\x02\x03", "b", "3"), (Results{"4", "3"}));
  EXPECT_EQ(unpacked("\xFF", "c"), (Results{"2", "-1"}));
  EXPECT_EQ(unpacked("\xFF", "b"), (Results{"2", "255"}));
  EXPECT_EQ(unpacked("\xFF\xFE", ">h"), (Results{"3", "-2"}));
  EXPECT_EQ(unpacked("\xFE\xFF\xFF\xFF\xFE\xFF\xFF\xFF", "<iI"),
            (Results{"9", "-2", "4294967294"}));
  EXPECT_EQ(unpacked("\x02"
                     "ab",
                     "p"),
            (Results{"4", "ab"}));
  EXPECT_EQ(unpacked(std::string_view("\0\x02"
                                      "ab",
                                      4),
                     ">P"),
            (Results{"5", "ab"}));
  EXPECT_EQ(unpacked("\x3F\xC0\0\0"s, ">f"), (Results{"5", "1.5"}));
}

TEST_F(PackTest, BadCodesNameTheFormatArgument) {
  EXPECT_EQ(lua.error("string.pack('bQ', 1, 2)"), "bad argument #1 to 'pack' (bad code `Q')");
  EXPECT_EQ(lua.error("string.unpack('ab', 'Q')"), "bad argument #2 to 'unpack' (bad code `Q')");
  EXPECT_EQ(lua.error("string.pack('5b', 1)"), "bad argument #1 to 'pack' (bad code `5')");
  EXPECT_EQ(lua.error("string.pack('b{', 1)"), "bad argument #1 to 'pack' (bad code `{')");
  EXPECT_EQ(lua.error("string.pack('b', 'x')"),
            "bad argument #2 to 'pack' (number expected, got string)");
  EXPECT_EQ(lua.error("string.pack('b3', 1, 2)"),
            "bad argument #4 to 'pack' (number expected, got no value)");
  EXPECT_EQ(lua.error("string.pack('b999999999999999999999999', 1)"),
            "bad argument #3 to 'pack' (number expected, got no value)");
  // A count after an order or separator code takes nothing; the format ends
  // at its first NUL.
  EXPECT_EQ(packed("'>9 5,7b', 1"), "\x01");
  EXPECT_EQ(packed("'b\\0Q', 1"), "\x01");
}

// Short data stops unpacking without error, and nothing is read outside the
// data whatever the format or the start position says.
TEST_F(PackTest, UnpackStopsWhereTheDataRunsShort) {
  EXPECT_EQ(unpacked("ab", "bbbQ"), (Results{"3", "97", "98"}));
  EXPECT_EQ(unpacked("abc", "A5"), Results{"1"});
  EXPECT_EQ(unpacked("abc", "bA99999999999999999999999"), (Results{"2", "97"}));
  EXPECT_EQ(unpacked("\xFF"
                     "ab",
                     "p"),
            Results{"1"});
  EXPECT_EQ(unpacked("\xFF\xFF"
                     "ab",
                     "P"),
            Results{"1"});
  EXPECT_EQ(unpacked("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                     "ab",
                     "a"),
            Results{"1"});
  EXPECT_EQ(unpacked("\x03\0\0\0\0\0\0\0"
                     "ab"s,
                     "a"),
            Results{"1"});
  EXPECT_EQ(unpacked("\x02\0\0\0\0\0\0\0"
                     "ab"s,
                     "a"),
            (Results{"11", "ab"}));
  // A z string that ends the data leaves the position one beyond it.
  EXPECT_EQ(unpacked("ab", "zb"), (Results{"4", "ab"}));
  EXPECT_EQ(unpacked("ab", "zA0"), (Results{"4", "ab"}));
  EXPECT_EQ(unpacked("ab", "A2z"), (Results{"3", "ab"}));
  EXPECT_EQ(unpacked("", "z"), Results{"1"});
}

TEST_F(PackTest, UnpackStartPositions) {
  EXPECT_EQ(unpacked("ab", "b", "2.7"), (Results{"3", "98"}));
  EXPECT_EQ(unpacked("ab", "b", "0.5"), (Results{"2", "97"}));
  EXPECT_EQ(unpacked("ab", "b", "3"), Results{"3"});
  EXPECT_EQ(unpacked("ab", "A0", "3"), (Results{"3", ""}));
  EXPECT_EQ(unpacked("ab", "A0", "4"), Results{"4"});
  EXPECT_EQ(unpacked("ab", "b", "1e300"), Results{"1e+300"});
  for (const char* below : {"0", "-5", "-1e300", "0/0"}) {
    EXPECT_EQ(lua.error(std::string("string.unpack('ab', 'b', ") + below + ")"),
              "bad argument #3 to 'unpack' (start position below 1)")
        << below;
  }
  EXPECT_EQ(lua.error("string.unpack('ab')"),
            "bad argument #2 to 'unpack' (string expected, got no value)");
}

TEST_F(PackTest, UnpackRefusesMoreValuesThanTheStackTakes) {
  const std::string message = lua.error("string.unpack(string.rep('x', 9000), 'b9000')");
  EXPECT_NE(message.find("too many values to unpack"), std::string::npos) << message;
  EXPECT_EQ(lua.run("return select('#', string.unpack(string.rep('x', 5000), 'b5000'))"),
            Results{"5001"});
}

TEST_F(PackTest, RandomRecordsRoundTrip) {
  EXPECT_EQ(lua.run(R"(
    math.randomseed(4)
    local function bytes(n, lowest)
      local t = {}
      for i = 1, n do t[i] = string.char(math.random(lowest, 255)) end
      return table.concat(t)
    end
    local ranges = {c = {-128, 127}, b = {0, 255}, h = {-32768, 32767}, H = {0, 65535},
                    i = {-2^31, 2^31 - 1}, I = {0, 2^32 - 1}, l = {-2^31, 2^31 - 1},
                    L = {0, 2^32 - 1}}
    local makers = {
      f = function() return 'f', math.random(-8000, 8000) / 8 end,
      d = function() return 'd', (math.random() - 0.5) * 10 ^ math.random(-300, 300) end,
      n = function() return 'n', math.random() end,
      z = function() return 'z', bytes(math.random(0, 20), 1) end,
      p = function() return 'p', bytes(math.random(0, 255), 0) end,
      P = function() return 'P', bytes(math.random(0, 300), 0) end,
      a = function() return 'a', bytes(math.random(0, 300), 0) end,
      -- pack writes one string per A; unpack reads as many bytes as the count.
      A = function() local s = bytes(math.random(1, 30), 0) return 'A', s, 'A' .. #s end,
    }
    for code, range in pairs(ranges) do
      -- math.random(m, n) takes C ints only.
      makers[code] = function()
        return code, range[1] + math.floor(math.random() * (range[2] - range[1] + 1))
      end
    end
    local codes = {}
    for code in pairs(makers) do codes[#codes + 1] = code end
    table.sort(codes)
    for round = 1, 300 do
      local packFormat, unpackFormat, values = {}, {}, {}
      for item = 1, math.random(1, 8) do
        if math.random(4) == 1 then
          local order = math.random(2) == 1 and '>' or '<'
          packFormat[#packFormat + 1] = order
          unpackFormat[#unpackFormat + 1] = order
        end
        local code, value, unpackCode = makers[codes[math.random(#codes)]]()
        packFormat[#packFormat + 1] = code
        unpackFormat[#unpackFormat + 1] = unpackCode or code
        values[#values + 1] = value
      end
      unpackFormat = table.concat(unpackFormat, ' ')
      local data = string.pack(table.concat(packFormat, ' '), unpack(values))
      local results = {string.unpack(data, unpackFormat)}
      if results[1] ~= #data + 1 or #results ~= #values + 1 then return unpackFormat end
      for k, value in ipairs(values) do
        if results[k + 1] ~= value then return unpackFormat .. ' item ' .. k end
      end
    end
    return 'all'
  )"),
            Results{"all"});
}

}  // namespace
}  // namespace vesko
