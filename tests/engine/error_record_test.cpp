// The error record and Vesko_LastError's formats.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::textValue;
using ErrorRecordTest = PluginTest;

TEST_F(ErrorRecordTest, RightAfterEnablingThereIsNoError) {
  EXPECT_EQ(lastError(), "0");
  EXPECT_EQ(lastError("full"), "0");
  EXPECT_EQ(lastError("number"), "0");
  EXPECT_EQ(lastError("message"), "");
}

TEST_F(ErrorRecordTest, FormatsOfARecordedError) {
  call("Vesko_Version", {textValue("medium")});
  EXPECT_EQ(lastError(), "3400: Bad argument.");
  EXPECT_EQ(lastError("FULL"), "3400: Bad argument.");
  EXPECT_EQ(lastError("number"), "3400");
  EXPECT_EQ(lastError("message"), "Bad argument.");
  // Reading never changes the record.
  EXPECT_EQ(lastError(), "3400: Bad argument.");
}

TEST_F(ErrorRecordTest, UnknownFormatFailsAndKeepsTheRecord) {
  call("Vesko_Version", {textValue("medium")});
  Value result;
  for (const char* format : {"numbers", " number", "0"}) {
    EXPECT_EQ(call("Vesko_LastError", {textValue(format)}, &result), -1) << format;
    EXPECT_EQ(result.kind, FM_KIND_INVALID);
  }
  EXPECT_EQ(lastError(), "3400: Bad argument.");
}

}  // namespace
}  // namespace vesko_test
