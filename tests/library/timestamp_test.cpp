// The vesko.timestamp type as scripts see it.
#include <cstdlib>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

class TimestampTest : public PluginTest {
 protected:
  void SetUp() override {
    // The text form is local civil time; pin the zone.
    setenv("TZ", "UTC", 1);
    PluginTest::SetUp();
  }
};

TEST_F(TimestampTest, NewValueAndSet) {
  EXPECT_EQ(run("return vesko.timestamp.value(vesko.timestamp.new())"), "0");
  EXPECT_EQ(run("return vesko.timestamp.new(nil):value()"), "0");
  EXPECT_EQ(run("return vesko.timestamp.new('12.5'):value()"), "12.5");
  EXPECT_EQ(run("return vesko.timestamp.new(0.25):value()"), "0.25");
  EXPECT_EQ(run("local t = vesko.timestamp.new(1) return rawequal(t:set(99), t) and t:value()"),
            "99");
  EXPECT_EQ(run("return type(vesko.timestamp.new())"), "userdata");
}

TEST_F(TimestampTest, TextForm) {
  EXPECT_EQ(run("return tostring(vesko.timestamp.new(86400.75))"), "1970-01-02 00:00:00");
  EXPECT_EQ(run("return tostring(vesko.timestamp.new(1.9)) == tostring(vesko.timestamp.new(1))"),
            "1");
  // Values outside the calendar conversion still have a text.
  for (const char* value : {"1/0", "-1/0", "0/0", "1e300", "-86400"}) {
    const std::string script =
        std::string("return type(tostring(vesko.timestamp.new(") + value + ")))";
    EXPECT_EQ(run(script), "string") << value;
  }
}

TEST_F(TimestampTest, IdentityAndMisuse) {
  EXPECT_EQ(run("return vesko.timestamp.new(5) == vesko.timestamp.new(5)"), "0");
  EXPECT_EQ(run("return vesko.timestamp.new(1) < vesko.timestamp.new(2)"), "?");
  EXPECT_NE(lastError().find("attempt to compare two userdata values"), std::string::npos);
  EXPECT_EQ(run("return tostring(vesko.timestamp.new().other)"), "nil");
  EXPECT_EQ(run("vesko.timestamp.new().x = 1"), "?");
  EXPECT_NE(lastError().find("attempt to index"), std::string::npos) << lastError();

  EXPECT_EQ(run("return vesko.timestamp.value(io.stdout)"), "?");
  EXPECT_NE(lastError().find("bad argument #1 to 'value' (vesko.timestamp expected, got userdata)"),
            std::string::npos)
      << lastError();
  EXPECT_EQ(run("return vesko.timestamp.value(5)"), "?");
  EXPECT_NE(lastError().find("(userdata expected, got number)"), std::string::npos);
  EXPECT_EQ(run("local t = vesko.timestamp.new(3) pcall(t.set, t, 'x') return t:value()"), "3");
  EXPECT_EQ(run("vesko.timestamp.new('soon')"), "?");
  EXPECT_NE(lastError().find("number expected, got string"), std::string::npos);
}

}  // namespace
}  // namespace vesko_test
