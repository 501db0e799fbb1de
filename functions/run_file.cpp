// Vesko_RunFile( filePath {; arg...} ): runs a Lua script file on the main
// state.  A relative path is taken from the folder of the open database
// file, which the host tells through Get(FilePath).
#include <cstring>
#include <string>

#include "engine/chunk_cache.h"
#include "engine/error_record.h"
#include "functions/conversion.h"
#include "functions/external_functions.h"
#include "functions/run_chunk.h"
#include "functions/script_file.h"
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

// The database file's folder with its trailing slash, from the host's
// "file:/home/ann/db/Sales.sqlite".  The path is read as UTF-8, the file
// system's encoding here, and keeps the slash after "file:".  Answers false
// after recording why there is none.
bool databaseFolder(const FMExprEnv* env, FMData* result, std::string* folder) {
  host::Text expression = host::newText();
  host::textAssign(expression.get(), "Get(FilePath)", host::kNative);
  if (host::evaluate(env, expression.get(), result) != 0) {
    setError(Failure::kNoDatabasePath);
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
    setError(Failure::kRelativePath);
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

int16_t runFile(Call& call) {
  lua_State* L = call.L;
  if (L == nullptr) return kFailed;
  const uint32_t count = host::vectSize(call.parameters);
  if (count == 0) return 0;

  const ArgumentText given = readArgumentText(call.parameters, 0);
  std::string fullPath;
  if (isAbsolute(given.view())) {
    fullPath = given.view();
  } else {
    if (!databaseFolder(call.env, call.result, &fullPath)) return kFailed;
    fullPath += given.view();
  }

  // A script that returns nothing gives the empty text, not an untouched
  // result.
  const int16_t defaultCode = setEmptyResult(call.parameters, call.result);
  int status = 0;
  engine::ChunkLease lease;
  if (!loadScriptFile(L, fullPath.c_str(), &status, &lease)) {
    setError(Failure::kFileUnreadable);
    setEmptyResult(call.parameters, call.result);
    return kFailed;
  }
  if (status != 0) return failLoad(L, status, true);
  return runLoadedChunk(call, count, defaultCode);
}

}  // namespace vesko
