// Every example in docs/lua-api.md, run as the document says: the code left
// of "-->" as a script (after "return" unless it has its own), its first
// result's text form right of it, or "error: " and the end of the message.
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

struct Example {
  int line = 0;
  std::string code, expected;
};

std::vector<Example> documentExamples(const std::string& path) {
  std::vector<Example> examples;
  std::ifstream document(path);
  std::string text;
  bool inLua = false;
  for (int line = 1; std::getline(document, text); ++line) {
    if (text.rfind("```", 0) == 0) {
      inLua = !inLua && text == "```lua";
      continue;
    }
    const std::size_t arrow = text.find(" --> ");
    if (!inLua || arrow == std::string::npos) continue;
    Example example{line, text.substr(0, text.find_last_not_of(' ', arrow) + 1),
                    text.substr(arrow + 5)};
    if (example.code.find("return ") == std::string::npos) example.code = "return " + example.code;
    examples.push_back(example);
  }
  return examples;
}

class LuaApiDocTest : public PluginTest {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    std::string error;
    ASSERT_TRUE(vesko_host::openDatabase(SAMPLE_DATABASE_PATH, &error)) << error;
    PluginTest::SetUp();
  }
  void TearDown() override {
    PluginTest::TearDown();
    vesko_host::closeDatabase();
  }
};

TEST_F(LuaApiDocTest, EveryExampleGivesWhatTheDocumentSays) {
  const std::vector<Example> examples = documentExamples(VESKO_LUA_API_DOC);
  EXPECT_GE(examples.size(), 80u);
  const std::string errorMark = "error: ";
  for (const Example& example : examples) {
    SCOPED_TRACE("docs/lua-api.md:" + std::to_string(example.line) + ": " + example.code);
    const std::string got = run(example.code);
    if (example.expected.rfind(errorMark, 0) == 0) {
      const std::string wanted = example.expected.substr(errorMark.size());
      const std::string message = lastError("message");
      EXPECT_EQ(got, "?");
      EXPECT_EQ(lastError("number"), "3020");
      EXPECT_TRUE(message.size() >= wanted.size() &&
                  message.compare(message.size() - wanted.size(), wanted.size(), wanted) == 0)
          << message;
    } else {
      EXPECT_EQ(got, example.expected) << lastError();
    }
  }
}

}  // namespace
}  // namespace vesko_test
