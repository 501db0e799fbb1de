// A host that calls the plug-in from several threads at once: every call is
// answered as if it had been alone.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/plugins/function_registry.h"
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;
using ThreadsTest = PluginTest;

constexpr int kThreads = 4;
constexpr int kRounds = 500;  // four calls a round

TEST_F(ThreadsTest, ManyThreadsCallingAtOnceGetTheirOwnAnswers) {
  ASSERT_EQ(run("function add(a, b) return a + b end "
                "function gen() coroutine.yield(1) return 2 end"),
            "");
  std::atomic<int> wrong = 0;
  std::atomic<int> calls = 0;
  auto work = [&](int thread) {
    for (int round = 0; round < kRounds; ++round) {
      const int n = thread * 1000 + round;
      auto expect = [&](const std::string& got, const std::string& wanted) {
        ++calls;
        if (got != wanted) ++wrong;
      };
      const std::string number = std::to_string(n);
      switch (round % 5) {
        case 0:
          expect(run("local t = {} for i = 1, 50 do t[i] = ... end "
                     "collectgarbage('step') return t[50] * 2",
                     {numberValue(n)}),
                 std::to_string(2 * n));
          break;
        case 1:
          expect(
              text("Vesko_CallFunction", {textValue("add"), numberValue(n), numberValue(thread)}),
              std::to_string(n + thread));
          break;
        case 2:
          expect(run("return vesko.Evaluate('Vesko_RunScript(\"return ' .. ... .. '\")')",
                     {textValue(number)}),
                 number);
          break;
        case 3:
          expect(run("error('failing on purpose')"), "?");
          break;
        case 4: {
          // Shared state: the answer depends on the other threads, but it
          // always comes.
          const std::string got = text(
              round % 2 == 0 ? "Vesko_CallFunction" : "Vesko_ResumeFunction", {textValue("gen")});
          expect(got == "1" || got == "2" || got == "?" ? "ok" : got, "ok");
          break;
        }
      }
      expect(text("Vesko_Timeout", {textValue("tuning")}), "100");
      expect(text("Vesko_Version", {textValue("short")}).empty() ? "" : "version", "version");
      expect(run("return select('#', ...)", {numberValue(1), numberValue(2)}), "2");
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(calls, kThreads * kRounds * 4);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(run("return add(1, 2)"), "3");
}

TEST_F(ThreadsTest, DisablingWhileOthersCallEndsTheirCallsCleanly) {
  // Callers look their functions up while another thread withdraws and
  // registers them again: each call is answered, or refused as unknown.
  std::atomic<bool> stop = false;
  std::atomic<int> wrong = 0;
  auto caller = [&](int thread) {
    while (!stop) {
      Value result;
      const int16_t error =
          call("Vesko_RunScript", {textValue("return 1 + ..."), numberValue(thread)}, &result);
      if (error == 0 && vesko_host::textForm(result) != std::to_string(thread + 1)) ++wrong;
      if (vesko_host::registeredFunctions().size() > 7) ++wrong;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads - 1; ++t) threads.emplace_back(caller, t);
  for (int round = 0; round < 50; ++round) {
    vesko_host::shutdownPlugin(plugin_);
    ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  }
  stop = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(run("return 2 + 2"), "4");
}

}  // namespace
}  // namespace vesko_test
