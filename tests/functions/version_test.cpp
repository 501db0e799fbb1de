// Vesko_Version in each of its forms.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;
using VersionTest = PluginTest;

TEST_F(VersionTest, ShortForms) {
  EXPECT_EQ(text("Vesko_Version"), "1.5.0");
  EXPECT_EQ(text("Vesko_Version", {textValue("")}), "1.5.0");
  EXPECT_EQ(text("Vesko_Version", {textValue("short")}), "1.5.0");
  EXPECT_EQ(text("Vesko_Version", {textValue("long")}), "Vesko 1.5.0");
  // The host compares texts without regard to case.
  EXPECT_EQ(text("Vesko_Version", {textValue("LONG")}), "Vesko 1.5.0");
}

TEST_F(VersionTest, LongerFormHasSixLines) {
  const std::string longer = text("Vesko_Version", {textValue("longer")});
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t cr; (cr = longer.find('\r', start)) != std::string::npos; start = cr + 1) {
    lines.push_back(longer.substr(start, cr - start));
  }
  lines.push_back(longer.substr(start));
  ASSERT_EQ(lines.size(), 6u) << longer;
  EXPECT_EQ(lines[0], "Vesko 1.5.0, 2017-03-11");
  EXPECT_EQ(lines[4].rfind("providing Lua 5.1 from ", 0), 0u);
  for (const std::string& line : lines) EXPECT_FALSE(line.empty());
}

TEST_F(VersionTest, UnknownFormatFailsWith3400AndLeavesTheResult) {
  Value result;
  EXPECT_EQ(call("Vesko_Version", {textValue("medium")}, &result), -1);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  EXPECT_EQ(lastError(), "3400: Bad argument.");
  EXPECT_EQ(call("Vesko_Version", {numberValue(1)}), -1);
  EXPECT_EQ(lastError("number"), "3400");
  // The next successful call clears the record.
  EXPECT_EQ(text("Vesko_Version"), "1.5.0");
  EXPECT_EQ(lastError(), "0");
}

}  // namespace
}  // namespace vesko_test
