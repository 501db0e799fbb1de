// The entry point: enabling, version bounds, registration and its rollback,
// strings, unknown messages, shutdown.
#include <cstdio>
#include <memory>
#include <sstream>

#include "tests/support/host_failure_sweep.h"
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using EntryTest = LoadedPluginTest;

const char* kNames[] = {"Vesko_Version",       "Vesko_LastError",    "Vesko_RunScript",
                        "Vesko_RunFile",       "Vesko_CallFunction", "Vesko_Timeout",
                        "Vesko_ResumeFunction"};

TEST_F(EntryTest, EnablingRegistersTheSevenFunctionsAndShutdownWithdrawsThem) {
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  for (const char* name : kNames) EXPECT_TRUE(vesko_host::isRegistered(name)) << name;
  EXPECT_EQ(vesko_host::registeredCount(), 7u);
  vesko_host::shutdownPlugin(plugin_);
  EXPECT_EQ(vesko_host::registeredCount(), 0u);
}

TEST_F(EntryTest, HostVersionsOutside50To255AreRefused) {
  for (int version : {0, 49, 256, 65535}) {
    EXPECT_EQ(vesko_host::enablePlugin(plugin_, static_cast<uint16_t>(version)), -1) << version;
    EXPECT_EQ(vesko_host::registeredCount(), 0u);
  }
  for (int version : {50, 255}) {
    EXPECT_EQ(vesko_host::enablePlugin(plugin_, static_cast<uint16_t>(version)), 53) << version;
    vesko_host::shutdownPlugin(plugin_);
  }
}

TEST_F(EntryTest, AFailedRegistrationRollsBackWhatWasRegistered) {
  for (int16_t failing = 1; failing <= 7; ++failing) {
    vesko_host::failRegistration(failing, 123);
    EXPECT_EQ(vesko_host::enablePlugin(plugin_), -2) << "failing " << failing;
    EXPECT_EQ(vesko_host::registeredCount(), 0u) << "failing " << failing;
    vesko_host::failRegistration(failing, 0);
  }
  // The engine was closed each time; a clean enabling still works.
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  Value result;
  EXPECT_EQ(vesko_host::callExternal("Vesko_LastError", {}, &result), 0);
  EXPECT_EQ(result.text, "0");
}

TEST_F(EntryTest, AHostFailureAnywhereInEnablingEndsCleanly) {
  // The answer is -2 and nothing stays registered or leaks; an enabling
  // the fault missed works.
  int64_t answer = 0;
  sweepHostFailures([] {}, [&] { answer = vesko_host::enablePlugin(plugin_); },
                    [&](bool struck) {
                      if (struck) {
                        EXPECT_EQ(answer, -2);
                        EXPECT_EQ(vesko_host::registeredCount(), 0u);
                        return;
                      }
                      ASSERT_EQ(answer, 53);
                      Value result;
                      EXPECT_EQ(vesko_host::callExternal("Vesko_Version", {}, &result), 0);
                      EXPECT_EQ(result.text, "1.5.0");
                      vesko_host::shutdownPlugin(plugin_);
                    });
}

TEST_F(EntryTest, StringsAnsweredByIdentifier) {
  EXPECT_EQ(vesko_host::pluginString(plugin_, 128, 256), u"Vesko");
  EXPECT_EQ(vesko_host::pluginString(plugin_, 129, 256),
            u"This plug-in extends FileMaker applications by adding the Lua scripting language "
            u"via external functions.");
  EXPECT_EQ(vesko_host::pluginString(plugin_, 131, 256), u"VSKO1nnYnnn");
  EXPECT_EQ(vesko_host::pluginString(plugin_, 131, 12), u"VSKO1nnYnnn");
  for (int id : {0, 1, 127, 130, 132, 255}) {
    EXPECT_FALSE(vesko_host::pluginString(plugin_, static_cast<uint8_t>(id), 256)) << id;
  }
}

TEST_F(EntryTest, StringsAreCutToTheBufferAndAlwaysEnded) {
  EXPECT_EQ(vesko_host::pluginString(plugin_, 128, 3), u"Ve");
  EXPECT_EQ(vesko_host::pluginString(plugin_, 128, 1), u"");
  EXPECT_EQ(vesko_host::pluginString(plugin_, 131, 5), u"VSKO");
}

TEST_F(EntryTest, UnknownMessagesWriteNothing) {
  for (int message : {1, 2, 3, 5, 6, 8, 9, 200, 255}) {
    EXPECT_EQ(vesko_host::sendMessage(plugin_, static_cast<uint8_t>(message)),
              vesko_host::kUntouchedResult)
        << message;
  }
  EXPECT_EQ(vesko_host::registeredCount(), 0u);
}

TEST_F(EntryTest, ShutdownThenEnablingStartsAFreshInterpreter) {
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  Value result;
  vesko_host::callExternal("Vesko_RunScript", {vesko_host::textValue("kept = 42")}, &result);
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  result = {};
  EXPECT_EQ(vesko_host::callExternal("Vesko_RunScript",
                                     {vesko_host::textValue("return tostring(kept)")}, &result),
            0);
  EXPECT_EQ(result.text, "nil");
}

TEST_F(EntryTest, ExportsOnlyTheEntryPoint) {
  std::unique_ptr<FILE, int (*)(FILE*)> nm(popen("nm -D --defined-only " VESKO_PLUGIN_PATH, "r"),
                                           pclose);
  ASSERT_TRUE(nm);
  std::ostringstream functions;
  char line[512];
  while (fgets(line, sizeof line, nm.get()) != nullptr) {
    char type = 0;
    char name[400] = {};
    if (sscanf(line, "%*s %c %399s", &type, name) == 2 &&
        (type == 'T' || type == 'W' || type == 'i')) {
      functions << name << ' ';
    }
  }
  EXPECT_EQ(functions.str(), "FMExternCallProc ");
}

}  // namespace
}  // namespace vesko_test
