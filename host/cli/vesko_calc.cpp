// vesko-calc: evaluates calculations in the substitute host, with the
// plug-in loaded, the way a FileMaker calculation would.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/cli/calc_options.h"
#include "host/cli/calc_outcome.h"
#include "host/cli/calc_shell.h"
#include "host/cli/lua_mode.h"
#include "host/plugins/plugin_loader.h"
#include "host/substitute_host.h"

namespace {

using namespace vesko_host;

std::string programFolder() {
  std::error_code failed;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", failed);
  return failed ? std::string() : program.parent_path().string();
}

// The first of `candidates` that exists, or the last one.
std::string firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    std::error_code failed;
    if (!candidate.empty() && std::filesystem::exists(candidate, failed)) return candidate;
  }
  return candidates.back();
}

OutputStyle g_style = OutputStyle::lines;
bool g_lua = false;  // --lua

// Prints one result line; answers its exit status.
int evaluateLine(const std::string& expression, bool lua) {
  if (lua)
    return printLuaOutcome(runLuaChunk(expression, g_style != OutputStyle::json, true), g_style,
                           false);
  return printOutcome(expression, calculate(expression), g_style);
}

// One calculation per line; blank lines and // comment lines are skipped.
// Lines are read with getline(3): no C++ stream synchronised with stdio.
int evaluateLines(std::FILE* in) {
  int status = kAllGood;
  char* buffer = nullptr;
  std::size_t capacity = 0;
  ssize_t length = 0;
  while (!outputFailed() && (length = getline(&buffer, &capacity, in)) >= 0) {
    std::string line(buffer, static_cast<std::size_t>(length));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, 2, "//") == 0) continue;
    status = std::max(status, evaluateLine(line, false));
  }
  std::free(buffer);
  return status;
}

int readStandardInput() {
  if (isatty(STDIN_FILENO) != 0)
    return runShell(g_style == OutputStyle::json ? OutputStyle::json : OutputStyle::terminal,
                    g_lua);
  return g_lua ? evaluateLuaLines(stdin, g_style) : evaluateLines(stdin);
}

int cannotRead(const std::string& path, int error) {
  std::fprintf(stderr, "vesko-calc: cannot read %s: %s\n", path.c_str(), std::strerror(error));
  return kUsageOrMalformed;
}

// A folder, or a file that fails while read, is an error, never an empty
// file.
int evaluateFile(const std::string& path, bool lua) {
  std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "r");
  if (file == nullptr) return cannotRead(path, errno);
  struct stat status {};
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    if (file != stdin) std::fclose(file);
    return cannotRead(path, EISDIR);
  }
  errno = 0;
  int worst = lua ? evaluateLuaLines(file, g_style) : evaluateLines(file);
  if (std::ferror(file) != 0) worst = std::max(worst, cannotRead(path, errno != 0 ? errno : EIO));
  if (file != stdin) std::fclose(file);
  return worst;
}

// Output kept in the buffer goes out now; a failure to write it is the
// run's failure. A reader that went away needs no telling.
int finishOutput() {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return kAllGood;
  if (errno != EPIPE)
    std::fprintf(stderr, "vesko-calc: cannot write the output: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
  return kSomeFailed;
}

}  // namespace

int main(int argc, char** argv) {
  CalcOptions options;
  if (const int stop = readCalcOptions(argc, argv, &options); stop >= 0) return stop;
  g_lua = options.lua;
  if (options.json)
    g_style = OutputStyle::json;
  else if (isatty(STDOUT_FILENO) != 0)
    g_style = OutputStyle::terminal;

  const std::string here = programFolder();
  const std::string database =
      !options.database.empty()
          ? options.database
          : firstExisting({here + "/sample.sqlite", here + "/" VESKO_INSTALLED_SAMPLE_DATABASE,
                           VESKO_SAMPLE_DATABASE});
  // The sample is shared by every run; only a file named with --db changes.
  const auto access =
      options.database.empty() ? DatabaseAccess::kReadOnly : DatabaseAccess::kReadWrite;
  setQueryLimits(options.queryLimits);
  std::string error;
  if (!vesko_host::openDatabase(database, &error, access)) {
    std::fprintf(stderr, "vesko-calc: cannot open the database %s\n", error.c_str());
    return kUsageOrMalformed;
  }

  const std::string pluginPath =
      !options.plugin.empty()
          ? options.plugin
          : firstExisting(
                {here + "/libvesko.so", here + "/" VESKO_INSTALLED_PLUGIN, VESKO_DEFAULT_PLUGIN});
  auto plugin = vesko_host::loadPlugin(pluginPath, &error);
  if (!plugin) {
    std::fprintf(stderr, "vesko-calc: cannot load the plug-in: %s\n", error.c_str());
    return kUsageOrMalformed;
  }
  const int64_t enabled = vesko_host::enablePlugin(*plugin);
  if (enabled < 0) {
    std::fprintf(stderr, "vesko-calc: the plug-in refused to start (answer %lld)\n",
                 static_cast<long long>(enabled));
    vesko_host::unloadPlugin(*plugin);
    return kUsageOrMalformed;
  }

  int status = kAllGood;
  if (options.sources.empty()) status = readStandardInput();
  for (const CalcSource& source : options.sources) {
    if (outputFailed()) break;
    const bool lua = g_lua || source.lua;
    const int sourceStatus = source.kind == CalcSource::Kind::file ? evaluateFile(source.text, lua)
                                                                   : evaluateLine(source.text, lua);
    status = std::max(status, sourceStatus);
  }
  status = std::max(status, finishOutput());

  vesko_host::shutdownPlugin(*plugin);
  vesko_host::unloadPlugin(*plugin);
  vesko_host::closeDatabase();
  return status;
}
