// vesko-calc at a pseudo-terminal, for the tests of what it does there.
#ifndef VESKO_TESTS_HOST_CLI_TERMINAL_RUN_H
#define VESKO_TESTS_HOST_CLI_TERMINAL_RUN_H

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace vesko_test {

// vesko-calc at a pseudo-terminal, as a user at a terminal runs it.
class TerminalRun {
 public:
  ~TerminalRun() {
    if (child_ > 0 && kill(child_, SIGKILL) == 0) waitpid(child_, nullptr, 0);  // a failed test
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }

  bool open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
    slavePath_ = ptsname(master_);
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    winsize size{24, 80, 0, 0};
    return slave_ >= 0 && ioctl(master_, TIOCSWINSZ, &size) == 0 &&
           tcgetattr(slave_, &before_) == 0;
  }

  // Starts vesko-calc on the terminal with `options` after the program's
  // name; true once it shows `prompt`.
  bool start(const std::string& home,
             std::vector<std::string> options = {"--plugin", TINY_PLUGIN_PATH},
             const std::string& prompt = "vesko> ") {
    std::vector<std::string> environment = {"HOME=" + home, "TERM=xterm"};
    for (char** variable = environ; *variable != nullptr; ++variable) {
      const std::string entry = *variable;
      if (entry.rfind("HOME=", 0) != 0 && entry.rfind("TERM=", 0) != 0)
        environment.push_back(entry);
    }
    std::vector<char*> envp, argv;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    options.insert(options.begin(), VESKO_CALC_PATH);
    for (std::string& argument : options) argv.push_back(argument.data());
    argv.push_back(nullptr);
    child_ = fork();
    if (child_ != 0) return child_ > 0 && waitFor(prompt);
    setsid();
    const int terminal = ::open(slavePath_.c_str(), O_RDWR);
    dup2(terminal, 0);
    dup2(terminal, 1);
    dup2(terminal, 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }

  // Reads until `text` shows after what was waited for before.
  bool waitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (output_.find(text, seen_) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char chunk[256];
      const ssize_t got = read(master_, chunk, sizeof chunk);
      if (got <= 0) return false;
      output_.append(chunk, static_cast<std::size_t>(got));
    }
    seen_ = output_.find(text, seen_) + text.size();
    return true;
  }

  bool type(const std::string& keys) {
    return write(master_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
  }

  // Types `keys`, then waits for `shown` and the next prompt.
  bool answers(const std::string& keys, const std::string& shown,
               const std::string& prompt = "vesko> ") {
    return type(keys) && waitFor(shown) && waitFor(prompt);
  }

  // Ctrl-D; answers the exit status, or -1 when the program has not ended
  // within the deadline (it is then killed by the tear-down, not waited for
  // for ever).  What it still writes is drained so it cannot block on it.
  int end() {
    if (write(master_, "\x04", 1) != 1) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (waitpid(child_, &status, WNOHANG) != child_) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 50) > 0) {
        char chunk[256];
        const ssize_t got = read(master_, chunk, sizeof chunk);
        if (got > 0) output_.append(chunk, static_cast<std::size_t>(got));
      }
    }
    child_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  bool settingsRestored() const {
    termios after{};
    return tcgetattr(slave_, &after) == 0 && after.c_lflag == before_.c_lflag &&
           after.c_iflag == before_.c_iflag && after.c_oflag == before_.c_oflag;
  }

  const std::string& output() const { return output_; }

 private:
  int master_ = -1, slave_ = -1;
  std::string slavePath_;
  termios before_{};
  pid_t child_ = -1;
  std::string output_;
  std::size_t seen_ = 0;
};

}  // namespace vesko_test

#endif
