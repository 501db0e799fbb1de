// Library natives timed beside what they stand in for, in one run: base64
// against LuaSocket's mime.b64 and mime.unb64 in the same interpreter, md5
// against the md5sum program on the same bytes, and damlevlim's early stop.
// The counters carry the ratios (this system's time over the other's).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include <benchmark/benchmark.h>
#include <lua.hpp>

// LuaSocket's MIME core; its own header needs headers the package leaves out.
extern "C" int luaopen_mime_core(lua_State* L);

#include "bench/side_by_side.h"
#include "library/base64.h"
#include "library/text_functions.h"

namespace {

lua_State* newBenchState() {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  lua_pushcfunction(L, vesko::openBase64);
  lua_pushstring(L, "base64");
  lua_call(L, 1, 0);
  lua_pushcfunction(L, luaopen_mime_core);
  lua_pushstring(L, "mime");
  lua_call(L, 1, 1);
  lua_setglobal(L, "mime");
  const luaL_Reg text[] = {
      {"damlevlim", vesko::damlevlim}, {"md5", vesko::md5}, {nullptr, nullptr}};
  luaL_register(L, "vesko", text);
  lua_pop(L, 1);
  return L;
}

void setGlobal(lua_State* L, const char* name, const std::string& value) {
  lua_pushlstring(L, value.data(), value.size());
  lua_setglobal(L, name);
}

// Seconds that running the statement `code` takes, after a full collection
// so that neither side pays for the other's garbage.
double timeStatement(lua_State* L, const char* code) {
  if (luaL_loadstring(L, code) != 0) throw std::runtime_error(lua_tostring(L, -1));
  lua_gc(L, LUA_GCCOLLECT, 0);
  const auto start = std::chrono::steady_clock::now();
  lua_call(L, 0, 0);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string randomBytes(std::size_t size, int lowest) {
  std::mt19937 random(1321);
  std::uniform_int_distribution<int> byte(lowest, 255);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(byte(random));
  return s;
}

constexpr std::size_t kBase64Bytes = 10 * 1000 * 1000;

void Base64EncodeVersusMime(benchmark::State& state) {
  lua_State* L = newBenchState();
  setGlobal(L, "input", randomBytes(kBase64Bytes, 0));
  vesko_bench::compare(
      state, "ratio", [&] { return timeStatement(L, "base64.encode(input)"); },
      [&] { return timeStatement(L, "mime.b64(input)"); });
  lua_close(L);
}

void Base64DecodeVersusMime(benchmark::State& state) {
  lua_State* L = newBenchState();
  setGlobal(L, "input", randomBytes(kBase64Bytes, 0));
  luaL_dostring(L, "input = base64.encode(input)");
  vesko_bench::compare(
      state, "ratio", [&] { return timeStatement(L, "base64.decode(input)"); },
      [&] { return timeStatement(L, "mime.unb64(input)"); });
  lua_close(L);
}

// The bytes have no NUL, which would end vesko.md5's input early.
void Md5VersusMd5sum(benchmark::State& state) {
  const std::string data = randomBytes(100 * 1000 * 1000, 1);
  char path[] = "/tmp/vesko-md5-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
    state.SkipWithError("cannot write the md5sum input");
    return;
  }
  close(fd);
  lua_State* L = newBenchState();
  setGlobal(L, "input", data);
  const std::string command = std::string("md5sum ") + path + " >/dev/null";
  std::system(command.c_str());  // the file into the page cache first
  vesko_bench::compare(
      state, "ratio", [&] { return timeStatement(L, "vesko.md5(input)"); },
      [&] {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) state.SkipWithError("md5sum failed");
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      });
  lua_close(L);
  unlink(path);
}

// Two 255-byte strings with no byte in common: the distance reaches any
// limit, so limit 255 fills the whole table and limit 3 stops after three
// columns.
void setDissimilarStrings(lua_State* L) {
  std::string a(255, 'a');
  std::string b(255, 'n');
  for (std::size_t k = 0; k < 255; ++k) {
    a[k] = static_cast<char>('a' + k % 13);
    b[k] = static_cast<char>('n' + k * 7 % 13);
  }
  setGlobal(L, "a", a);
  setGlobal(L, "b", b);
}

void DamlevlimFullTable(benchmark::State& state) {
  lua_State* L = newBenchState();
  setDissimilarStrings(L);
  luaL_loadstring(L, "return vesko.damlevlim(a, b, 255)");
  for (auto _ : state) {
    lua_pushvalue(L, -1);
    lua_call(L, 0, 1);
    lua_pop(L, 1);
  }
  lua_close(L);
}

void DamlevlimEarlyStop(benchmark::State& state) {
  lua_State* L = newBenchState();
  setDissimilarStrings(L);
  constexpr int kCalls = 2000;
  const std::string loop = "for k = 1, " + std::to_string(kCalls) + " do vesko.damlevlim(a, b, ";
  const std::string early = loop + "3) end";
  const std::string full = loop + "255) end";
  double earlyTotal = 0;
  double fullTotal = 0;
  for (auto _ : state) {
    const double earlyTime = timeStatement(L, early.c_str());
    earlyTotal += earlyTime;
    fullTotal += timeStatement(L, full.c_str());
    state.SetIterationTime(earlyTime / kCalls);
  }
  state.counters["speedup"] = fullTotal / earlyTotal;
  lua_close(L);
}

}  // namespace

BENCHMARK(Base64EncodeVersusMime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Base64DecodeVersusMime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Md5VersusMd5sum)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(DamlevlimFullTable)->Unit(benchmark::kMicrosecond);
BENCHMARK(DamlevlimEarlyStop)->UseManualTime()->Unit(benchmark::kNanosecond)->Iterations(20);

VESKO_BENCH_MAIN()
