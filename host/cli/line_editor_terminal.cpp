#include "host/cli/line_editor_terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <utility>

#include "host/cli/line_editor_history.h"

namespace vesko_host {
namespace {

constexpr std::size_t kHistoryLimit = 1000;

// Shared with the signal handlers; a process has one terminal.
termios g_cooked;
volatile std::sig_atomic_t g_raw = 0;
volatile std::sig_atomic_t g_redraw = 0;

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGWINCH};

void restoreTerminal() {
  if (g_raw == 0) return;
  tcsetattr(STDIN_FILENO, TCSADRAIN, &g_cooked);
  g_raw = 0;
}

// TCSADRAIN, not TCSAFLUSH: keys typed ahead are kept.
bool enterRawMode() {
  termios raw = g_cooked;
  raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_cflag |= CS8;
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) return false;
  g_raw = 1;
  return true;
}

void setHandler(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// The terminal back, then the signal's usual end.
void onEndingSignal(int signal) {
  restoreTerminal();
  setHandler(signal, SIG_DFL);
  std::raise(signal);
}

// Stops with the terminal as the shell expects it; raw again once continued.
void onStop(int) {
  const int savedErrno = errno;
  const bool wasRaw = g_raw != 0;
  restoreTerminal();
  setHandler(SIGTSTP, SIG_DFL);
  std::raise(SIGTSTP);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);  // stopped here until continued
  setHandler(SIGTSTP, onStop);
  if (wasRaw) enterRawMode();
  g_redraw = 1;
  errno = savedErrno;
}

void onResize(int) {
  g_redraw = 1;
}

void (*handlerFor(int signal))(int) {
  if (signal == SIGTSTP) return onStop;
  return signal == SIGWINCH ? onResize : onEndingSignal;
}

// Raw mode and the handlers, for one line. Handlers are left out between
// lines, so a calculation runs with the program's usual ones.
class RawSession {
 public:
  RawSession() {
    static const bool atExit = std::atexit(restoreTerminal) == 0;
    (void)atExit;
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i)
      sigaction(kHandledSignals[i], nullptr, &previous_[i]);
    if (tcgetattr(STDIN_FILENO, &g_cooked) != 0) {
      failure_ = errno;
      return;
    }
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
      // An ignored signal, as under nohup, stays ignored.
      if (previous_[i].sa_handler != SIG_IGN)
        setHandler(kHandledSignals[i], handlerFor(kHandledSignals[i]));
    }
    if (!enterRawMode()) failure_ = errno;
  }
  ~RawSession() {
    restoreTerminal();
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i)
      sigaction(kHandledSignals[i], &previous_[i], nullptr);
  }
  RawSession(const RawSession&) = delete;
  RawSession& operator=(const RawSession&) = delete;

  int failure() const { return failure_; }

 private:
  struct sigaction previous_[std::size(kHandledSignals)]{};
  int failure_ = 0;
};

void writeToTerminal(const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // nothing to tell it on
    done += static_cast<std::size_t>(written);
  }
}

std::size_t terminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// False at the end: hung up, or an error (then `error` says which).
bool readMore(std::string* unread, std::string* error) {
  char buffer[4096];
  const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
  if (got > 0) {
    unread->append(buffer, static_cast<std::size_t>(got));
    return true;
  }
  if (got < 0 && errno == EINTR) return true;  // a signal; its flag is looked at next
  if (got < 0 && errno != EIO)
    *error = std::string("cannot read the terminal: ") + std::strerror(errno);
  return false;
}

}  // namespace

bool TerminalLineReader::usable() {
  termios settings;
  const char* kind = std::getenv("TERM");
  return isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0 &&
         tcgetattr(STDIN_FILENO, &settings) == 0 &&
         (kind == nullptr || std::strcmp(kind, "dumb") != 0);
}

TerminalLineReader::TerminalLineReader(std::string prompt, std::string historyPath)
    : editor_(std::move(prompt), kHistoryLimit), historyPath_(std::move(historyPath)) {
  if (historyPath_.empty()) return;
  for (const std::string& line : readHistoryFile(historyPath_, kHistoryLimit))
    editor_.remember(line);
}

bool TerminalLineReader::readLine(std::string* line, std::string* error) {
  std::cout.flush();
  EditResult result;
  {
    RawSession session;
    if (session.failure() != 0) {
      *error = std::string("cannot set up the terminal: ") + std::strerror(session.failure());
      return false;
    }
    result = readKeys(error);
  }
  if (result.event != EditEvent::kLineReady) return false;
  *line = std::move(result.line);
  return true;
}

EditResult TerminalLineReader::readKeys(std::string* error) {
  g_redraw = 0;
  writeToTerminal(editor_.resize(terminalColumns()));
  for (;;) {
    if (g_redraw != 0) {
      g_redraw = 0;
      writeToTerminal(editor_.resize(terminalColumns()));
    }
    if (unread_.empty()) {
      if (readMore(&unread_, error)) continue;
      EditResult end;
      end.event = EditEvent::kEndOfInput;
      return end;
    }
    EditResult result = editor_.feed(unread_);
    unread_.erase(0, result.consumed);
    writeToTerminal(result.output);
    if (result.event == EditEvent::kSuspend)
      std::raise(SIGTSTP);  // onStop comes back raw and asks for a redraw
    else if (result.event != EditEvent::kEditing)
      return result;
  }
}

// After raw mode, so that a complaint prints as usual.
void TerminalLineReader::keep(const std::string& entry) {
  if (!editor_.remember(entry) || historyPath_.empty()) return;
  std::string failure;
  if (appendHistoryFile(historyPath_, entry, &failure)) return;
  std::fprintf(stderr, "vesko-calc: cannot keep the history in %s: %s (kept for this run)\n",
               historyPath_.c_str(), failure.c_str());
  historyPath_.clear();
}

}  // namespace vesko_host
