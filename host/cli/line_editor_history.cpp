#include "host/cli/line_editor_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <utility>

namespace vesko_host {
namespace {

bool writeAll(int descriptor, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Replaces the file at once (a new file renamed over it), so another
// vesko-calc reading it meanwhile sees the old lines or the new, never half.
void rewrite(const std::string& path, const std::deque<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + '\n';
  std::string temporary = path + ".XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return;
  const bool written = fchmod(descriptor, S_IRUSR | S_IWUSR) == 0 && writeAll(descriptor, bytes);
  if (close(descriptor) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0)
    return;
  std::remove(temporary.c_str());
}

}  // namespace

std::string historyFilePath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return "";
  return std::string(home) + "/.vesko_calc_history";
}

std::vector<std::string> readHistoryFile(const std::string& path, std::size_t limit) {
  std::ifstream file(path, std::ios::binary);
  std::deque<std::string> lines;
  bool cut = false;
  for (std::string line; std::getline(file, line);) {
    lines.push_back(std::move(line));
    if (lines.size() > limit) {
      lines.pop_front();
      cut = true;
    }
  }
  if (cut) rewrite(path, lines);
  return {lines.begin(), lines.end()};
}

bool appendHistoryFile(const std::string& path, const std::string& line, std::string* error) {
  const int descriptor =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (descriptor < 0) {
    *error = std::strerror(errno);
    return false;
  }
  // One write per line, so the lines of two vesko-calc at once never mix.
  const bool written = writeAll(descriptor, line + '\n');
  const int failure = errno;
  const bool closed = close(descriptor) == 0;
  if (written && closed) return true;
  *error = std::strerror(written ? errno : failure);
  return false;
}

}  // namespace vesko_host
