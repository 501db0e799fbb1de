#include "host/cli/line_editor_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <algorithm>
#include <utility>

namespace vesko_host {
namespace {

// Far more than any history of kept lines needs; a larger file is not read
// whole.
constexpr std::size_t kMaxHistoryBytes = 4 << 20;

std::string oneLine(std::string entry) {
  std::replace(entry.begin(), entry.end(), '\n', '\r');
  return entry;
}

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
  for (const std::string& line : lines) bytes += oneLine(line) + '\n';
  std::string temporary = path + ".XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return;
  const bool written = fchmod(descriptor, S_IRUSR | S_IWUSR) == 0 && writeAll(descriptor, bytes);
  if (close(descriptor) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0)
    return;
  std::remove(temporary.c_str());
}

bool isRegularFile(int descriptor) {
  struct stat status {};
  return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

// The whole file at `path` when it is a regular file, opened without
// blocking; a named pipe or a device (which may never answer, or never
// end) counts as no file.  A file larger than any history is read from
// its last kMaxHistoryBytes, whose first, partial line is dropped.
bool readRegularFile(const std::string& path, std::string* bytes) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status {};
  const bool regular = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  const auto size = regular ? static_cast<std::size_t>(status.st_size) : 0;
  const std::size_t skipped = size > kMaxHistoryBytes ? size - kMaxHistoryBytes : 0;
  bytes->resize(size - skipped);
  std::size_t done = 0;
  while (regular && done < bytes->size()) {
    const ssize_t got = pread(descriptor, bytes->data() + done, bytes->size() - done,
                              static_cast<off_t>(skipped + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  close(descriptor);
  bytes->resize(done);  // the file may have shrunk meanwhile
  if (skipped > 0) bytes->erase(0, std::min(bytes->size(), bytes->find('\n') + 1));
  return regular;
}

}  // namespace

std::string historyFilePath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return "";
  return std::string(home) + "/.vesko_calc_history";
}

std::vector<std::string> readHistoryFile(const std::string& path, std::size_t limit) {
  std::string bytes;
  if (!readRegularFile(path, &bytes)) return {};
  std::deque<std::string> lines;
  bool cut = false;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    lines.emplace_back(bytes, start, end - start);
    std::replace(lines.back().begin(), lines.back().end(), '\r', '\n');
    start = end + 1;
    if (lines.size() > limit) {
      lines.pop_front();
      cut = true;
    }
  }
  if (cut) rewrite(path, lines);
  return {lines.begin(), lines.end()};
}

bool appendHistoryFile(const std::string& path, const std::string& line, std::string* error) {
  // Without blocking: a named pipe with no reader would wait for one.
  const int descriptor =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, S_IRUSR | S_IWUSR);
  if (descriptor < 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (!isRegularFile(descriptor)) {
    close(descriptor);
    *error = "not a regular file";
    return false;
  }
  // One write per line, so the lines of two vesko-calc at once never mix.
  const bool written = writeAll(descriptor, oneLine(line) + '\n');
  const int failure = errno;
  const bool closed = close(descriptor) == 0;
  if (written && closed) return true;
  *error = std::strerror(written ? errno : failure);
  return false;
}

}  // namespace vesko_host
