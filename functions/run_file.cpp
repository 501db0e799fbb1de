// Vesko_RunFile( filePath {; arg...} ): runs a Lua script file on the main
// state.  A relative path is taken from the folder of the open database
// file, which the host tells through Get(FilePath).
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/allocator.h"
#include "engine/engine.h"
#include "engine/error_record.h"
#include "functions/conversion.h"
#include "functions/external_functions.h"
#include "functions/guard.h"
#include "functions/protected_steps.h"
#include "functions/run_chunk.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

namespace {

// The database path buffer; a longer path is unusable.
constexpr std::size_t kDatabasePathCapacity = 2048;

// "/..." and "C:..." are absolute; everything else, a "file:" prefix or a
// leading backslash included, is taken from the database folder.
bool isAbsolute(std::string_view path) {
  return (!path.empty() && path[0] == '/') || (path.size() >= 2 && path[1] == ':');
}

int16_t failPath(const char* code, const char* message) {
  setError(code, message);
  return kFailed;
}

// The database file's folder with its trailing slash, from the host's
// "file:/home/ann/db/Sales.sqlite".  The path is read as UTF-8, the file
// system's encoding here, and keeps the slash after "file:".  Answers false
// after recording why there is none.
bool databaseFolder(const FMExprEnv* env, FMData* result, std::string* folder) {
  host::Text expression = host::newText();
  host::textAssign(expression.get(), "Get(FilePath)", host::kNative);
  if (host::evaluate(env, expression.get(), result) != 0) {
    failPath("3005", "Unable to create relative file path using FileMaker's Get(FilePath).");
    return false;
  }
  const FMText* answer = host::dataAsText(result);
  const std::size_t capacity = 4 * static_cast<std::size_t>(host::textSize(answer)) + 1;
  std::string path(capacity, '\0');
  host::textGetBytes(answer, path.data(), static_cast<uint32_t>(capacity), host::kUtf8);
  path.resize(std::strlen(path.c_str()));

  const std::size_t lastSlash = path.rfind('/');
  constexpr std::string_view kScheme = "file:";
  if (path.size() >= kDatabasePathCapacity || lastSlash == std::string::npos ||
      path.compare(0, kScheme.size(), kScheme) != 0) {
    failPath("3004", "Unable to resolve into relative file path.");
    return false;
  }
  *folder = path.substr(kScheme.size(), lastSlash + 1 - kScheme.size());
  return true;
}

int16_t setEmptyResult(const FMDataVect* parameters, FMData* result) {
  host::Text empty = host::newText();
  return host::dataSetText(result, empty.get(), host::dataLocale(host::vectAt(parameters, 0)),
                           FM_KIND_TEXT);
}

}  // namespace

int16_t handleRunFile(int16_t, const FMExprEnv* env, const FMDataVect* parameters,
                      FMData* result) noexcept {
  return guardedSteps([&](lua_State*) -> int16_t {
    lua_State* L = beginMainRun();
    if (L == nullptr) return kFailed;
    const uint32_t count = host::vectSize(parameters);
    if (count == 0) return 0;

    const ArgumentText given = readArgumentText(parameters, 0);
    engine::EnvironmentScope scope(env);
    std::string fullPath;
    if (isAbsolute(given.view())) {
      fullPath = given.view();
    } else {
      if (!databaseFolder(env, result, &fullPath)) return kFailed;
      fullPath += given.view();
    }

    // A script that returns nothing gives the empty text, not an untouched
    // result.
    const int16_t defaultCode = setEmptyResult(parameters, result);
    if (FILE* file = std::fopen(fullPath.c_str(), "r")) {
      std::fclose(file);
    } else {
      setError("3002", "File not found or is not readable.");
      setEmptyResult(parameters, result);
      return kFailed;
    }
    int status = 0;
    {
      engine::ProtectedRun run;  // loading is protected: a memory error is caught
      status = luaL_loadfile(L, fullPath.c_str());
    }
    if (status != 0) return failLoad(L, status, true);
    return runLoadedChunk(parameters, count, result, defaultCode);
  });
}

}  // namespace vesko
