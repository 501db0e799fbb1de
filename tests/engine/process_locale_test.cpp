// A script's os.setlocale lasts for its own external-function call: the
// process's locale is the host's, and a decimal comma left behind would
// break number reading in every later script.
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/plugin_fixture.h"
#include "tests/support/temporary_database.h"

namespace vesko_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCommaLocale = "de_DE.UTF-8";

// Whether `name` can be set and writes numbers with a decimal comma; the
// process is left in the "C" locale either way.
bool hasDecimalComma(const char* name) {
  bool comma = false;
  if (std::setlocale(LC_ALL, name) != nullptr)
    comma = std::strcmp(localeconv()->decimal_point, ",") == 0;
  std::setlocale(LC_ALL, "C");
  return comma;
}

class ProcessLocaleTest : public PluginTest {
 protected:
  // A German locale, from the system or compiled into a temporary folder
  // that LOCPATH names; none when neither works.
  static void SetUpTestSuite() {
    if (hasDecimalComma(kCommaLocale)) {
      available_ = true;
      return;
    }
    folder_ = fs::temp_directory_path() / ("vesko-locales-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (folder_ / kCommaLocale).string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == -1) return;
    setenv("LOCPATH", folder_.c_str(), 1);
    available_ = hasDecimalComma(kCommaLocale);
  }
  static void TearDownTestSuite() {
    if (!folder_.empty()) fs::remove_all(folder_);
    unsetenv("LOCPATH");
  }
  void SetUp() override {
    if (!available_)
      GTEST_FAIL() << "cannot run: no locale with a decimal comma: " << kCommaLocale
                   << " is not installed and localedef cannot make it (the locales package)";
    PluginTest::SetUp();
  }
  void TearDown() override {
    if (!path_.empty()) removeTemporaryDatabase(path_);
    std::setlocale(LC_ALL, "C");
    PluginTest::TearDown();
  }

  static std::string processLocale() { return std::setlocale(LC_ALL, nullptr); }

  fs::path path_;
  static inline bool available_ = false;
  static inline fs::path folder_;
};

TEST_F(ProcessLocaleTest, AScriptsLocaleEndsWithItsCall) {
  EXPECT_EQ(run("os.setlocale('de_DE.UTF-8') return tostring(1.5)"), "1,5");
  EXPECT_EQ(processLocale(), "C");
  EXPECT_EQ(run("return '1.5' * 2"), "3");
  EXPECT_EQ(run("return tonumber(vesko.Evaluate('1/4'))"), "0.25");

  // One category, a failing script, a yielding and a failing function.
  EXPECT_EQ(run("os.setlocale('de_DE.UTF-8', 'numeric') error('late')"), "?");
  EXPECT_EQ(processLocale(), "C");
  EXPECT_EQ(run("function f() os.setlocale('de_DE.UTF-8') coroutine.yield(1) "
                "return tostring(2.5) end"),
            "");
  EXPECT_EQ(text("Vesko_CallFunction", {vesko_host::textValue("f")}), "1");
  EXPECT_EQ(processLocale(), "C");
  // The resumed function runs in the host's locale again.
  EXPECT_EQ(text("Vesko_ResumeFunction"), "2.5");
  EXPECT_EQ(run("function g() os.setlocale('de_DE.UTF-8') error('x') end"), "");
  EXPECT_EQ(text("Vesko_CallFunction", {vesko_host::textValue("g")}), "?");
  EXPECT_EQ(processLocale(), "C");
}

TEST_F(ProcessLocaleTest, ANestedCallGivesTheOuterScriptItsOwnLocaleBack) {
  EXPECT_EQ(run(R"lua(
    os.setlocale('de_DE.UTF-8')
    local inner = vesko.Evaluate([[Vesko_RunScript("os.setlocale(\"C\") return tostring(0.5)")]])
    return inner .. ' ' .. tostring(1.5))lua"),
            "0.5 1,5");
  EXPECT_EQ(processLocale(), "C");
  EXPECT_EQ(run(R"lua(
    local inner = vesko.Evaluate([[Vesko_RunScript("os.setlocale(\"de_DE.UTF-8\") return 1")]])
    return inner .. ' ' .. tostring(1.5))lua"),
            "1 1.5");
}

TEST_F(ProcessLocaleTest, TheHostKeepsItsOwnNumberFormsUnderAScriptsLocale) {
  ASSERT_NO_FATAL_FAILURE(
      openTemporaryDatabase("vesko-locale", "CREATE TABLE t (x REAL);", &path_));
  EXPECT_EQ(run(R"(
    os.setlocale('de_DE.UTF-8')
    vesko.ExecuteSQL('INSERT INTO t VALUES (2.75)')
    return vesko.Evaluate('1/4') .. ' ' .. vesko.Evaluate('1.5 * 2') .. ' '
      .. vesko.ExecuteSQL('SELECT x, 0.5 FROM t')[1].f1 .. ' '
      .. vesko.ExecuteSQL('SELECT 0.5')[1].f1)"),
            "0.25 3 2.75 0.5");
  // A number the script hands back is the host's number, in its form.
  EXPECT_EQ(run("os.setlocale('de_DE.UTF-8') return 1.25"), "1.25");
}

TEST_F(ProcessLocaleTest, FinalizersAtShutdownCannotKeepALocale) {
  EXPECT_EQ(run("keep = newproxy(true) "
                "getmetatable(keep).__gc = function() os.setlocale('de_DE.UTF-8') end"),
            "");
  vesko_host::shutdownPlugin(plugin_);
  EXPECT_EQ(processLocale(), "C");
}

}  // namespace
}  // namespace vesko_test
