// A test that loads the real plug-in, enables it, and afterwards checks
// that the interpreter is at rest, as every call must leave it, and that
// the plug-in deleted every host object it made, exactly once.
#ifndef VESKO_TESTS_SUPPORT_PLUGIN_FIXTURE_H
#define VESKO_TESTS_SUPPORT_PLUGIN_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/plugins/plugin_loader.h"
#include "host/substitute_host.h"
#include "tests/support/engine_probe.h"

namespace vesko_test {

using vesko_host::Value;

class LoadedPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto loaded = vesko_host::loadPlugin(VESKO_PLUGIN_PATH, &error);
    ASSERT_TRUE(loaded) << error;
    plugin_ = std::move(*loaded);
  }

  void TearDown() override {
    if (plugin_.library != nullptr) {
      const std::string outOfRest = engineOutOfRest(plugin_.library);
      EXPECT_TRUE(outOfRest.empty()) << "after the test's calls: " << outOfRest;
      if (vesko_host::registeredCount() > 0) vesko_host::shutdownPlugin(plugin_);
      vesko_host::unloadPlugin(plugin_);
    }
    EXPECT_EQ(vesko_host::livePluginObjects().total(), 0u)
        << "live plug-in objects: " << vesko_host::livePluginObjects().describe();
    const std::vector<std::string> violations = vesko_host::takeViolations();
    EXPECT_TRUE(violations.empty()) << violations.front();
    vesko_host::failOperation(0, 0);
  }

  vesko_host::LoadedPlugin plugin_;
};

// Enabled on set-up; calls external functions by name.
class PluginTest : public LoadedPluginTest {
 protected:
  void SetUp() override {
    LoadedPluginTest::SetUp();
    ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  }

  // The function's host error number; its result in *result.
  int16_t call(const std::string& name, const std::vector<Value>& arguments = {},
               Value* result = nullptr) {
    Value ignored;
    return vesko_host::callExternal(name, arguments, result != nullptr ? result : &ignored);
  }

  // The result's text form, or "?" when the function failed; the result
  // itself in *result.
  std::string text(const std::string& name, const std::vector<Value>& arguments = {},
                   Value* result = nullptr) {
    Value ignored;
    Value* out = result != nullptr ? result : &ignored;
    if (call(name, arguments, out) != 0) return "?";
    return vesko_host::textForm(*out);
  }

  std::string lastError(const std::string& format = "") {
    if (format.empty()) return text("Vesko_LastError");
    return text("Vesko_LastError", {vesko_host::textValue(format)});
  }

  // Runs a script and answers its result's text form, or "?".
  std::string run(const std::string& script, std::vector<Value> arguments = {}) {
    arguments.insert(arguments.begin(), vesko_host::textValue(script));
    return text("Vesko_RunScript", arguments);
  }

  // The external functions that take a name or a path first, as text().
  std::string runFile(const std::string& path, std::vector<Value> arguments = {},
                      Value* result = nullptr) {
    arguments.insert(arguments.begin(), vesko_host::textValue(path));
    return text("Vesko_RunFile", arguments, result);
  }
  std::string callFunction(const std::string& name, std::vector<Value> arguments = {},
                           Value* result = nullptr) {
    arguments.insert(arguments.begin(), vesko_host::textValue(name));
    return text("Vesko_CallFunction", arguments, result);
  }
  std::string resume(const std::vector<Value>& arguments = {}, Value* result = nullptr) {
    return text("Vesko_ResumeFunction", arguments, result);
  }
};

// Enabled with a memory ceiling of `kBytes`, so that a script can run out
// of memory without exhausting the machine.
template <long kBytes>
class PluginWithCeilingTest : public PluginTest {
 protected:
  void SetUp() override {
    setenv("VESKO_LUA_MEMORY_LIMIT", std::to_string(kBytes).c_str(), 1);
    PluginTest::SetUp();
    unsetenv("VESKO_LUA_MEMORY_LIMIT");
  }
};

}  // namespace vesko_test

#endif
