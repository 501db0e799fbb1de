// Vesko_RunFile of a 300-line script whose compiled chunk is kept, beside
// the same file touched before each call (so read and compiled every
// time), and beside Vesko_RunScript of the same text, kept as well.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "bench/enabled_plugin.h"
#include "bench/side_by_side.h"
#include "host/plugins/plugin_loader.h"
#include "host/plugins/prepared_call.h"

namespace {

using vesko_host::PreparedCall;
using vesko_host::textValue;

// A rate table written out as a chain of branches, as scripts that map a
// record's kind to a figure often are: 300 lines, of which a run takes one
// branch (half way down the chain) and a helper.
std::string script() {
  std::string text =
      "local kind, amount = ...\n"
      "kind, amount = kind or 'k70', tonumber(amount) or 1\n"
      "local function round(x) return math.floor(x * 100 + 0.5) / 100 end\n"
      "local rate\n"
      "if kind == 'k0' then\n  rate = 0\n";
  for (int i = 1; i < 146; ++i)
    text += "elseif kind == 'k" + std::to_string(i) + "' then\n  rate = " + std::to_string(i) +
            " / 1000\n";
  return text + "end\nreturn round(amount * (1 + rate))\n";
}

// The script in a file of its own, modified a minute ago: settled.
struct ScriptFile {
  std::string path;
  explicit ScriptFile(const char* name)
      : path((std::filesystem::temp_directory_path() /
              ("vesko-run-file-bench-" + std::to_string(getpid()) + "-" + name + ".lua"))
                 .string()) {
    std::ofstream(path) << script();
    const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 60, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  ~ScriptFile() { std::remove(path.c_str()); }
  void touch() const {
    const timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
};

void expectSuccess(int16_t answer) {
  if (answer != 0) throw std::runtime_error("external function failed");
}

template <typename Work>
double secondsOfCalls(int calls, Work&& work) {
  return vesko_bench::secondsOf([&] {
    for (int i = 0; i < calls; ++i) work();
  });
}

void BM_RunFileUnchangedOverTouched(benchmark::State& state) {
  vesko_bench::ensurePlugin();
  // Two files of the same text: touching one would make the other's
  // modification time recent too, and so not kept, if they were one.
  const ScriptFile file("unchanged");
  const ScriptFile other("touched");
  PreparedCall call("Vesko_RunFile", {textValue(file.path)});
  PreparedCall touchedCall("Vesko_RunFile", {textValue(other.path)});
  expectSuccess(call.call());
  constexpr int kCalls = 2000;
  const auto [unchanged, touched] = vesko_bench::totalsOf(
      state, [&] { return secondsOfCalls(kCalls, [&] { expectSuccess(call.call()); }); },
      [&] {
        return secondsOfCalls(kCalls, [&] {
          other.touch();
          expectSuccess(touchedCall.call());
        });
      });
  vesko_bench::report(state, "unchanged_over_touched",
                      "Vesko_RunFile, 300 lines, unchanged / touched each call",
                      unchanged / touched, "<= 0.05");
}

void BM_RunFileOverRunScript(benchmark::State& state) {
  vesko_bench::ensurePlugin();
  const ScriptFile file("kept");
  PreparedCall fromFile("Vesko_RunFile", {textValue(file.path)});
  PreparedCall fromText("Vesko_RunScript", {textValue(script())});
  for (int i = 0; i < 2; ++i) {
    expectSuccess(fromFile.call());
    expectSuccess(fromText.call());
  }
  constexpr int kCalls = 20000;
  const auto [files, texts] = vesko_bench::totalsOf(
      state, [&] { return secondsOfCalls(kCalls, [&] { expectSuccess(fromFile.call()); }); },
      [&] { return secondsOfCalls(kCalls, [&] { expectSuccess(fromText.call()); }); });
  vesko_bench::report(state, "file_over_text",
                      "Vesko_RunFile unchanged / Vesko_RunScript kept, 300 lines", files / texts,
                      "<= 1.5");
}

BENCHMARK(BM_RunFileUnchangedOverTouched)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileOverRunScript)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

VESKO_BENCH_MAIN()
