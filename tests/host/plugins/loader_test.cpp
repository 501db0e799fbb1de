// Loading a plug-in and talking to it: a tiny plug-in built next to the test.
#include "host/plugins/plugin_loader.h"
#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

class LoaderTest : public HostTest {
 protected:
  void SetUp() override {
    std::string error;
    auto loaded = vesko_host::loadPlugin(TINY_PLUGIN_PATH, &error);
    ASSERT_TRUE(loaded) << error;
    plugin_ = std::move(*loaded);
  }
  void TearDown() override {
    if (plugin_.library != nullptr) {
      vesko_host::shutdownPlugin(plugin_);
      vesko_host::unloadPlugin(plugin_);
    }
    HostTest::TearDown();
  }
  std::string calc(const std::string& expression) {
    vesko_host::Value result;
    const int16_t error = vesko_host::evaluate(expression, &result);
    return error != 0 ? "error " + std::to_string(error) : vesko_host::textForm(result);
  }

  vesko_host::LoadedPlugin plugin_;
};

TEST_F(LoaderTest, EnableRegistersAndShutdownWithdraws) {
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  EXPECT_TRUE(vesko_host::isRegistered("tiny_echo"));
  EXPECT_EQ(plugin_.record->instance, plugin_.library);
  EXPECT_EQ(calc("Tiny_Echo(\"hi\"; 2)"), "hi");
  vesko_host::shutdownPlugin(plugin_);
  EXPECT_FALSE(vesko_host::isRegistered("Tiny_Echo"));
}

TEST_F(LoaderTest, GetStringTellsWrittenFromUntouched) {
  EXPECT_EQ(vesko_host::pluginString(plugin_, 128, 64), u"Tiny");
  EXPECT_EQ(vesko_host::pluginString(plugin_, 128, 3), u"Ti");
  EXPECT_EQ(vesko_host::pluginString(plugin_, 130, 64), std::nullopt);
  EXPECT_EQ(vesko_host::sendMessage(plugin_, 1), vesko_host::kUntouchedResult);
}

TEST_F(LoaderTest, CalculationsNestThroughThePlugin) {
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  EXPECT_EQ(calc("Tiny_Evaluate(\"1 + 1\")"), "2");
  EXPECT_EQ(calc("Tiny_Evaluate(\"Tiny_Evaluate(\\\"Tiny_Echo(\\\\\\\"deep\\\\\\\")\\\")\")"),
            "deep");
  EXPECT_EQ(calc("Tiny_Evaluate(\"1 +\")"), "error 1203");
}

TEST_F(LoaderTest, QueriesRunThroughAnEnvironmentTheCallbackFilled) {
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  std::string error;
  ASSERT_TRUE(vesko_host::openDatabase(SAMPLE_DATABASE_PATH, &error)) << error;
  EXPECT_EQ(calc("Tiny_Query(\"SELECT city FROM customers WHERE id = 2\")"), "Z\xC3\xBCrich");
  EXPECT_EQ(calc("Tiny_Query(\"SELECT nothing\")"), "error 8309");
  vesko_host::closeDatabase();
  // Outside any calculation the callback attaches nothing.
  FMExprEnv* env = FM_ExprEnv_Constructor1(0, e());
  EXPECT_EQ(plugin_.record->currentEnvironment(env), 3);
  FM_ExprEnv_Delete(env, e());
}

TEST(LoaderFailureTest, MissingLibraryOrEntryIsAnErrorMessage) {
  std::string error;
  EXPECT_FALSE(vesko_host::loadPlugin("/nonexistent/libnothing.so", &error));
  EXPECT_NE(error.find("libnothing"), std::string::npos);
  EXPECT_FALSE(vesko_host::loadPlugin(HOST_LIBRARY_PATH, &error));
  EXPECT_NE(error.find("FMExternCallProc"), std::string::npos) << error;
}

}  // namespace
}  // namespace vesko_test
