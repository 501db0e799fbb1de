// Get(parameter): where the host's files are, and the current date and time.
// Folder paths are absolute and end with "/", as the host answers on Linux.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "host/calc/calc_builtins.h"
#include "host/values/calendar.h"
#include "host/sql/database.h"
#include "host/objects/host_errors.h"

namespace vesko_host {
namespace {

std::string asFolder(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return "/";
}

std::string temporaryFolder() {
  std::error_code failed;
  const std::filesystem::path path = std::filesystem::temp_directory_path(failed);
  return asFolder(failed ? "/tmp" : path.string());
}

// The folder of the running program, where the host application lives.
std::string programFolder() {
  std::error_code failed;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
  return asFolder(failed ? "/" : program.parent_path().string());
}

// Now on the local clock: the day in seconds at its midnight, and the
// whole seconds since midnight.
void localNow(double* day, double* time) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  *day = dateSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  *time = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

}  // namespace

int16_t getParameter(std::string_view parameter, Value* result, CalcError* error) {
  double day = 0, time = 0;
  if (sameName(parameter, "FilePath")) {
    *result = textValue(filePathAnswer());
  } else if (sameName(parameter, "TemporaryPath")) {
    *result = textValue(temporaryFolder());
  } else if (sameName(parameter, "DocumentsPath")) {
    *result = textValue(asFolder(homeFolder()) + "Documents/");
  } else if (sameName(parameter, "DesktopPath")) {
    *result = textValue(asFolder(homeFolder()) + "Desktop/");
  } else if (sameName(parameter, "FileMakerPath")) {
    *result = textValue(programFolder());
  } else if (sameName(parameter, "CurrentDate")) {
    localNow(&day, &time);
    *result = Value{FM_KIND_DATE, "", 0, day};
  } else if (sameName(parameter, "CurrentTime")) {
    localNow(&day, &time);
    *result = Value{FM_KIND_TIME, "", 0, time};
  } else if (sameName(parameter, "CurrentTimestamp")) {
    localNow(&day, &time);
    *result = Value{FM_KIND_TIMESTAMP, "", 0, day + time};
  } else {
    error->message = "Get does not know the parameter " + std::string(parameter);
    return kHostErrorBadGetParameter;
  }
  return kHostErrorNone;
}

}  // namespace vesko_host
