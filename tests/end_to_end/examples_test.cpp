// The scripts in examples/, run on the sample database as the README shows.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/plugin_fixture.h"
#include "tests/support/temporary_database.h"

namespace vesko_test {
namespace {

using vesko_host::textValue;
namespace fs = std::filesystem;

class ExamplesTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    std::ifstream file(fs::path(VESKO_EXAMPLES_DIR) / "sample.sql");
    std::stringstream sql;
    sql << file.rdbuf();
    ASSERT_NO_FATAL_FAILURE(openTemporaryDatabase("vesko-examples", sql.str().c_str(), &path_));
  }
  void TearDown() override {
    removeTemporaryDatabase(path_);
    PluginTest::TearDown();
  }
  std::string runExample(const std::string& name, std::vector<Value> arguments = {}) {
    arguments.insert(arguments.begin(), textValue(std::string(VESKO_EXAMPLES_DIR) + "/" + name));
    return text("Vesko_RunFile", arguments);
  }

  fs::path path_;
};

TEST_F(ExamplesTest, OrdersSinceBindsWhatTheUserTyped) {
  EXPECT_EQ(runExample("orders_since.lua", {textValue("o'brien")}),
            "2025-04-04 Fiona O'Brien: Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9\x65 torch x1");
  EXPECT_EQ(runExample("orders_since.lua", {textValue("u"), vesko_host::dateValue(2025, 3, 1)}),
            "2025-04-19 Chlo\xC3\xA9 Dubois: Tea towel \xC2\xBD linen x4");
  EXPECT_EQ(runExample("orders_since.lua", {textValue("x' OR 1=1 --")}), "no orders");
}

TEST_F(ExamplesTest, InvoiceShowsWhereItFailed) {
  EXPECT_EQ(runExample("invoice.lua"), "");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("invoiceTotal"), vesko_host::numberValue(1),
                                        vesko_host::numberValue(2)}),
            "67");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("invoiceTotal"), vesko_host::numberValue(1),
                                        vesko_host::numberValue(99)}),
            "?");
  const std::string file = std::string(VESKO_EXAMPLES_DIR) + "/invoice.lua";
  EXPECT_EQ(lastError(), "3020: " + file + ":14: no order 99");
  EXPECT_EQ(lastError("traceback"), "stack traceback:\n\t[C]: in function 'error'\n\t" + file +
                                        ":14: in function 'price'\n\t" + file +
                                        ":19: in function 'lineAmount'\n\t" + file +
                                        ":25: in function <" + file + ":23>");
}

}  // namespace
}  // namespace vesko_test
