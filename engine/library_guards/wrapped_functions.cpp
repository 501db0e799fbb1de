#include "engine/library_guards/wrapped_functions.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include <lua.hpp>

#include "engine/broken_pipe.h"
#include "engine/library_guards/checks.h"

namespace vesko::engine {

namespace {

// --- writes to pipes and sockets -------------------------------------------

// A write to a pipe or socket whose reader has gone raises SIGPIPE, which
// ends the host unless it chose otherwise; every function that can write
// to one runs with SIGPIPE held on its thread, and fails with EPIPE
// instead.  Only these, and only while they run: a child that io.popen or
// os.execute starts inherits the thread's mask.
int runHoldingBrokenPipe(lua_State* L, lua_CFunction original) {
  BrokenPipeScope held;
  return original(L);
}

// cjson.new(): a module table of its own, wrapped like the first.  The
// functions of cjson.safe are others, wrapped under a name of their own.
template <const char* kTable>
int runWrappingNew(lua_State* L, lua_CFunction original) {
  const int results = original(L);
  if (results >= 1 && lua_istable(L, -results)) {
    lua_pushvalue(L, -results);
    wrapTable(L, kTable);
    lua_pop(L, 1);
  }
  return results;
}
constexpr char kJson[] = "cjson";
constexpr char kSafeJson[] = "cjson.safe";

// --- the wrapped functions -------------------------------------------------

// Runs a wrapped function: its check, then the library's function, in the
// same frame.
using Run = int (*)(lua_State* L, lua_CFunction original);

template <Check check>
int checkThenRun(lua_State* L, lua_CFunction original) {
  const int results = check(L);
  return results == kRunLibrary ? original(L) : results;
}

// Where a wrapped function lives: a global table ("" for the globals), or
// kPatternOperators, the metatable LPeg gives every pattern.
constexpr const char* kPatternOperators = "lpeg pattern";
// and kSearchers, package.loaders, whose entries are numbered; and
// kFileMethods, io's metatable of files (which holds their methods too).
constexpr const char* kSearchers = "package.loaders";
constexpr const char* kFileMethods = "FILE*";

struct Bounded {
  const char* table;
  const char* name;
  Run run;
};

// Every function of the start-up set that takes a count, a position, a
// width or a repetition, and can go wrong with one out of range.  The
// others were tried with +-2^31, +-2^53, NaN and the infinities and convert
// them safely.
constexpr Bounded kBounded[] = {
    {"", "unpack", checkThenRun<checkUnpack>},
    {"", "select", checkThenRun<checkFirstInt>},
    {"", "getfenv", checkThenRun<checkFirstInt>},
    {"", "setfenv", checkThenRun<checkFirstInt>},
    {"table", "insert", checkThenRun<checkInsert>},
    {"table", "remove", checkThenRun<checkSecondInt>},
    {"table", "concat", checkThenRun<checkConcat>},
    {"string", "rep", checkThenRun<checkRep>},
    {"string", "sub", checkThenRun<checkRange23>},
    {"string", "byte", checkThenRun<checkRange23>},
    {"string", "char", checkThenRun<checkEveryInt>},
    {"string", "find", checkThenRun<checkFindInit>},
    {"string", "match", checkThenRun<checkMatchInit>},
    {"string", "gsub", checkThenRun<checkGsub>},
    {"string", "gmatch", runGmatch},
    {"debug", "getinfo", checkThenRun<checkGetinfo>},
    {"debug", "getlocal", checkThenRun<checkLocal>},
    {"debug", "setlocal", checkThenRun<checkLocal>},
    {"debug", "getupvalue", checkThenRun<checkSecondInt>},
    {"debug", "setupvalue", checkThenRun<checkSecondInt>},
    {"debug", "sethook", checkThenRun<checkSethook>},
    {"debug", "traceback", checkThenRun<checkTraceback>},
    {"bit", "tohex", checkThenRun<checkTohex>},
    // Every LPeg function that turns an argument into a pattern, and the
    // pattern operators; re builds its patterns through both.
    {"lpeg", "P", checkThenRun<checkPattern>},
    {"lpeg", "B", checkThenRun<checkPattern>},
    {"lpeg", "C", checkThenRun<checkPattern>},
    {"lpeg", "Cs", checkThenRun<checkPattern>},
    {"lpeg", "Ct", checkThenRun<checkPattern>},
    {"lpeg", "Cg", checkThenRun<checkPattern>},
    {"lpeg", "Cmt", checkThenRun<checkPattern>},
    {"lpeg", "Cf", checkThenRun<checkPattern>},
    {"lpeg", "match", checkThenRun<checkMatch>},
    {"lpeg", "setmaxstack", checkThenRun<checkSetmaxstack>},
    {"lpeg", "ptree", checkThenRun<checkPattern>},
    {"lpeg", "pcode", checkThenRun<checkPattern>},
    {kPatternOperators, "__add", checkThenRun<checkTwoPatterns>},
    {kPatternOperators, "__sub", checkThenRun<checkTwoPatterns>},
    {kPatternOperators, "__mul", checkThenRun<checkTwoPatterns>},
    {kPatternOperators, "__pow", checkThenRun<checkRepetition>},
    {kPatternOperators, "__div", checkThenRun<checkPattern>},
    {kPatternOperators, "__unm", checkThenRun<checkPattern>},
    {kPatternOperators, "__len", checkThenRun<checkPattern>},
    {"package", "loadlib", runFindingOpener},
    {kSearchers, "1", runFindingOpener},
    {kSearchers, "2", runFindingOpener},
    {kSearchers, "3", runFindingOpener},
    {kSearchers, "4", runFindingOpener},
    {"socket", "select", runSelect},
    {"socket", "skip", checkThenRun<checkSkip>},
    {"socket", "sleep", checkThenRun<checkSleep>},
    {"", "print", runHoldingBrokenPipe},
    {"io", "write", runHoldingBrokenPipe},
    {"io", "flush", runHoldingBrokenPipe},
    {"io", "close", runHoldingBrokenPipe},
    {kFileMethods, "write", runHoldingBrokenPipe},
    {kFileMethods, "flush", runHoldingBrokenPipe},
    {kFileMethods, "close", runHoldingBrokenPipe},
    {kFileMethods, "seek", runHoldingBrokenPipe},
    {kFileMethods, "setvbuf", runHoldingBrokenPipe},
    {kFileMethods, "__gc", runHoldingBrokenPipe},
    {kJson, "encode", checkThenRun<checkJsonEncode>},
    {kJson, "decode", checkThenRun<checkJsonDecode>},
    {kJson, "new", runWrappingNew<kJson>},
    {kSafeJson, "encode", checkThenRun<checkJsonEncode>},
    {kSafeJson, "decode", checkThenRun<checkJsonDecode>},
    {kSafeJson, "new", runWrappingNew<kSafeJson>},
};
constexpr std::size_t kBoundedCount = std::size(kBounded);

// The library's function behind each wrapper, kept here out of reach of
// scripts.  It is the same function in every interpreter: the libraries
// are loaded once per process.
lua_CFunction originals[kBoundedCount];

template <std::size_t I>
int wrapper(lua_State* L) {
  return kBounded[I].run(L, originals[I]);
}

template <std::size_t... I>
constexpr std::array<lua_CFunction, sizeof...(I)> makeWrappers(std::index_sequence<I...>) {
  return {wrapper<I>...};
}
constexpr auto kWrappers = makeWrappers(std::make_index_sequence<kBoundedCount>());

// Pushes the key of wrapped function `i` in its table.
void pushKey(lua_State* L, std::size_t i) {
  if (kBounded[i].table == kSearchers) {
    lua_pushinteger(L, std::atoi(kBounded[i].name));
  } else {
    lua_pushstring(L, kBounded[i].name);
  }
}

// Replaces field `name` of the table at `table`, when it is a C function,
// by wrapper `i` with the same upvalues and environment, so that the
// library's function runs in the wrapper's frame as it ran in its own.
// Stack unchanged.
void wrapField(lua_State* L, int table, std::size_t i) {
  pushKey(L, i);
  lua_rawget(L, table);
  const lua_CFunction function = lua_tocfunction(L, -1);
  if (function == nullptr || function == kWrappers[i]) {
    lua_pop(L, 1);
    return;
  }
  originals[i] = function;
  const int original = lua_gettop(L);
  int upvalues = 0;
  while (lua_getupvalue(L, original, upvalues + 1) != nullptr) ++upvalues;
  lua_pushcclosure(L, kWrappers[i], upvalues);
  lua_getfenv(L, original);
  lua_setfenv(L, -2);
  pushKey(L, i);
  lua_insert(L, -2);
  lua_rawset(L, table);
  lua_pop(L, 1);
}

}  // namespace

void wrapTable(lua_State* L, const char* tableName) {
  if (!lua_istable(L, -1)) return;
  const int table = lua_gettop(L);
  for (std::size_t i = 0; i < kBoundedCount; ++i) {
    if (std::strcmp(kBounded[i].table, tableName) == 0) wrapField(L, table, i);
  }
}

namespace {

void wrapGlobalTable(lua_State* L, const char* name) {
  if (*name == '\0') {
    lua_pushvalue(L, LUA_GLOBALSINDEX);
  } else {
    lua_getglobal(L, name);
  }
  wrapTable(L, name);
  lua_pop(L, 1);
}

}  // namespace

// LPeg keeps its operators in the metatable of every pattern; one made by
// P(true) leads to it.
void wrapPatternOperators(lua_State* L) {
  if (!lua_istable(L, -1)) return;
  lua_getfield(L, -1, "P");
  lua_pushboolean(L, 1);
  if (lua_pcall(L, 1, 1, 0) == 0 && lua_getmetatable(L, -1)) {
    patternMetatable = lua_topointer(L, -1);
    wrapTable(L, kPatternOperators);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
}

void wrapCoreLibraries(lua_State* L) {
  for (const char* name : {"", "table", "string", "debug", "bit", "package", "io"}) {
    wrapGlobalTable(L, name);
  }
  lua_getfield(L, LUA_REGISTRYINDEX, kFileMethods);
  wrapTable(L, kFileMethods);
  lua_pop(L, 1);
  lua_getglobal(L, "package");
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "loaders");
    wrapTable(L, kSearchers);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  lua_getglobal(L, "lpeg");
  wrapPatternOperators(L);
  lua_pop(L, 1);
  wrapGlobalTable(L, "lpeg");
}

void wrapSocketCore(lua_State* L) {
  wrapGlobalTable(L, "socket");
}

}  // namespace vesko::engine
