// The Lua environment start-up builds.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using StartupTest = PluginTest;

TEST_F(StartupTest, TheVeskoTableAndSafety) {
  EXPECT_EQ(run("return tostring(os.exit)"), "nil");
  EXPECT_EQ(run("return vesko.version"), "vesko library for Lua 5.1 / March 2017");
  EXPECT_EQ(run("return vesko.platform"), "Linux");
  EXPECT_EQ(run("return require('vesko') == vesko"), "1");
  EXPECT_EQ(run("return package.loaded['vesko.timestamp'] == vesko.timestamp"), "1");
  EXPECT_EQ(lastError(), "0");
}

TEST_F(StartupTest, EveryLibraryIsReachableWithoutRequire) {
  const char* libraries[] = {"string",      "table",      "math",      "io",         "os",
                             "debug",       "package",    "re",        "lpeg",       "lfs",
                             "bit",         "socket",     "ltn12",     "mime",       "base64",
                             "ascii85",     "vesko",      "socket.tp", "socket.url", "socket.ftp",
                             "socket.http", "socket.smtp"};
  for (const char* library : libraries) {
    const std::string script = std::string("return type(") + library + ")";
    EXPECT_EQ(run(script), "table") << library;
  }
  EXPECT_EQ(run("return type(string.pack) .. type(string.utf8sub) .. type(string.nextutf8) .. "
                "type(string.isvalidutf8)"),
            "functionfunctionfunctionfunction");
}

TEST_F(StartupTest, RequireAnswersTheSameTables) {
  const char* modules[] = {"socket",     "ltn12",       "mime",        "socket.tp", "socket.url",
                           "socket.ftp", "socket.http", "socket.smtp", "lpeg",      "bit",
                           "lfs",        "base64",      "ascii85",     "string"};
  for (const char* module : modules) {
    const std::string script = std::string("return require('") + module + "') == " + module;
    EXPECT_EQ(run(script), "1") << module;
  }
}

TEST_F(StartupTest, TheLibrariesWork) {
  EXPECT_EQ(run("return re.match('hello world', '{%a+} %s {%a+}')"), "hello");
  EXPECT_EQ(run("return bit.band(12, 10)"), "8");
  EXPECT_EQ(run("return lfs.attributes('/', 'mode')"), "directory");
  EXPECT_EQ(run("return (mime.b64('abc'))"), "YWJj");
  EXPECT_EQ(run("return socket.url.escape('a b')"), "a%20b");
  EXPECT_EQ(run("return type(socket.gettime())"), "number");
}

TEST_F(StartupTest, GlobalsPersistFromCallToCall) {
  EXPECT_EQ(run("counter = 41"), "");
  EXPECT_EQ(run("counter = counter + 1 return counter"), "42");
}

}  // namespace
}  // namespace vesko_test
