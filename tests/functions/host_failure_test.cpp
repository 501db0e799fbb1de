// Every external function with each of its host operations failing in
// turn.  A failed operation ends the call with -1 and error 3500, or goes
// unnoticed and the call answers what it always answers; never a wrong
// answer.  Either way the interpreter is at rest, nothing leaks (the
// fixture counts on tear-down), and the same call then succeeds.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <unistd.h>
#include <vector>

#include "tests/support/host_failure_sweep.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/temporary_database.h"

namespace vesko_test {
namespace {

namespace fs = std::filesystem;
using vesko_host::dateValue;
using vesko_host::numberValue;
using vesko_host::textValue;
using vesko_host::timestampValue;

std::string scriptPath() {
  // Tests run in parallel processes: each has a file of its own.
  return testing::TempDir() + "host_failure_script_" + std::to_string(getpid()) + ".lua";
}

class HostFailureTest;

struct SweptCall {
  const char* name;  // the test's
  const char* function;
  std::function<std::vector<Value>()> arguments;
  std::string answer;  // the result's text form
  // Vesko_LastError's full record right after the call succeeds.
  std::string record = "0";
  // Run before each call, outside the sweep's faults.
  std::function<void(HostFailureTest&)> prepare = nullptr;
  // What a failed call records.
  enum Failure {
    k3500,
    kRecordKept,  // Vesko_LastError reads the record and leaves it as it was
    // A host callback's failure is the script's run-time error, which it
    // could catch; a failure outside the script is 3500.
    kCallbackErrorOr3500,
  } failure = k3500;
  // What a failed call must leave behind, checked after it.
  std::function<void(HostFailureTest&)> afterFailure = nullptr;
};

void PrintTo(const SweptCall& swept, std::ostream* out) {
  *out << swept.name;
}

class HostFailureTest : public PluginTest, public ::testing::WithParamInterface<SweptCall> {
 public:
  using PluginTest::call;
  using PluginTest::lastError;
  using PluginTest::text;

 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(openTemporaryDatabase("vesko-host-failure", R"(
        CREATE TABLE people (id INTEGER, name TEXT);
        INSERT INTO people VALUES (1, 'Åsa');
        INSERT INTO people VALUES (2, 'Björn');)",
                                                  &database_));
    FILE* file = std::fopen(scriptPath().c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("local a, b = ... return a .. '/' .. tostring(b)\n", file);
    std::fclose(file);
    ASSERT_EQ(run("function gen(...) "
                  "local a, d = coroutine.yield(select('#', ...) .. tostring((...))) "
                  "coroutine.yield(a .. tostring(d):sub(1, 10)) return 3 end"),
              "");
  }
  void TearDown() override {
    std::remove(scriptPath().c_str());
    removeTemporaryDatabase(database_);
    PluginTest::TearDown();
  }

  fs::path database_;
};

// Nothing is left to resume after a call that failed.
void nothingToResume(HostFailureTest& test) {
  EXPECT_EQ(test.text("Vesko_ResumeFunction"), "?");
  EXPECT_EQ(test.lastError("number"), "3250");
}

TEST_P(HostFailureTest, EachHostOperationFailingEndsTheCallCleanly) {
  const SweptCall& swept = GetParam();
  const auto prepare = [&] {
    if (swept.prepare) swept.prepare(*this);
  };
  // Answers the call's result text, "?" when it failed.
  const auto callOnce = [&](int16_t* answer) {
    Value result;
    *answer = call(swept.function, swept.arguments(), &result);
    return *answer == 0 ? vesko_host::textForm(result) : "?";
  };
  // The call before and after the sweep gives the right answer.
  const auto expectRightAnswer = [&](const char* when) {
    SCOPED_TRACE(when);
    prepare();
    int16_t answer = 0;
    EXPECT_EQ(callOnce(&answer), swept.answer);
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(lastError(), swept.record);
  };
  expectRightAnswer("before the sweep");

  int failures = 0;
  int16_t answer = 0;
  std::string result;
  sweepHostFailures(
      prepare, [&] { result = callOnce(&answer); },
      [&](bool struck) {
        EXPECT_EQ(engineOutOfRest(plugin_.library), "");
        if (!struck || answer == 0) {
          // Unhurt: the call answers what it always answers.
          EXPECT_EQ(answer, 0) << "the fault missed the call";
          EXPECT_EQ(result, swept.answer);
          EXPECT_EQ(lastError(), swept.record);
          return;
        }
        ++failures;
        EXPECT_EQ(answer, -1);
        const std::string record = lastError();
        switch (swept.failure) {
          case SweptCall::k3500:
            EXPECT_EQ(record.substr(0, 6), "3500: ") << record;
            break;
          case SweptCall::kRecordKept:
            EXPECT_EQ(record, swept.record);
            break;
          case SweptCall::kCallbackErrorOr3500:
            if (record.rfind("3020: ", 0) == 0) {
              EXPECT_NE(record.find("vesko."), std::string::npos) << record;
            } else {
              EXPECT_EQ(record.substr(0, 6), "3500: ") << record;
            }
            break;
        }
        if (swept.afterFailure) swept.afterFailure(*this);
        expectRightAnswer("once no fault is due");
      });
  // The call makes host operations, and some of their failures show.
  EXPECT_GT(failures, 0);
  expectRightAnswer("after the sweep");
}

std::vector<SweptCall> sweptCalls() {
  return {
      {"Version", "Vesko_Version", [] { return std::vector<Value>{}; }, "1.5.0"},
      {"VersionLonger", "Vesko_Version", [] { return std::vector<Value>{textValue("long")}; },
       "Vesko 1.5.0"},
      {"LastErrorAfterAFailure", "Vesko_LastError",
       [] { return std::vector<Value>{textValue("full")}; }, "3400: Bad argument.",
       "3400: Bad argument.",
       [](HostFailureTest& test) { test.call("Vesko_Version", {textValue("medium")}); },
       SweptCall::kRecordKept},
      {"LastErrorAfterASuccess", "Vesko_LastError",
       [] { return std::vector<Value>{textValue("message")}; }, "", "0", nullptr,
       SweptCall::kRecordKept},
      {"RunScriptConvertingArguments", "Vesko_RunScript",
       [] {
         return std::vector<Value>{
             textValue("local a, d, n = ... return a .. tostring(d):sub(1, 10) .. n"),
             textValue("x"), dateValue(2020, 2, 29), numberValue(3)};
       },
       "x2020-02-293"},
      {"RunScriptCallingBack", "Vesko_RunScript",
       [] {
         // Every host object the natives make is released while an error
         // unwinds, bound parameters of every kind included.
         return std::vector<Value>{
             textValue("local when = ... "
                       "local a = vesko.Evaluate('1+2') "
                       "local rows = vesko.ExecuteSQL('SELECT * FROM people') "
                       "local row = vesko.ExecuteSQL('SELECT ?, ?, ?, ?, ?', "
                       "'t\\195\\169xt', 2.5, true, nil, when)[1] "
                       "pcall(vesko.ExecuteSQL, 'SELECT ?', {}) "
                       "return a .. #rows .. row.f5"),
             timestampValue(2024, 1, 2, 3, 4, 5)};
       },
       "322024-01-02 03:04:05", "0", nullptr, SweptCall::kCallbackErrorOr3500},
      {"RunFile", "Vesko_RunFile",
       [] {
         return std::vector<Value>{textValue(scriptPath()), textValue("a"), numberValue(2)};
       },
       "a/2"},
      {"CallFunction", "Vesko_CallFunction",
       [] {
         return std::vector<Value>{textValue("gen"), textValue("text"), dateValue(2024, 2, 29)};
       },
       "2text", "3200: Coroutine yielded.",
       // A function suspended before the call is replaced by it.
       [](HostFailureTest& test) { test.call("Vesko_CallFunction", {textValue("gen")}); },
       SweptCall::k3500, nothingToResume},
      {"ResumeFunction", "Vesko_ResumeFunction",
       [] {
         return std::vector<Value>{textValue("text"), dateValue(2024, 2, 29)};
       },
       "text2024-02-29", "3200: Coroutine yielded.",
       [](HostFailureTest& test) { test.call("Vesko_CallFunction", {textValue("gen")}); },
       SweptCall::k3500, nothingToResume},
      {"Timeout", "Vesko_Timeout", [] { return std::vector<Value>{numberValue(7)}; }, "7"},
  };
}

INSTANTIATE_TEST_SUITE_P(EveryExternalFunction, HostFailureTest, ::testing::ValuesIn(sweptCalls()),
                         [](const ::testing::TestParamInfo<SweptCall>& swept) {
                           return std::string(swept.param.name);
                         });

}  // namespace
}  // namespace vesko_test
