#include "engine/broken_pipe.h"

#include <pthread.h>

#include <ctime>

namespace vesko::engine {

namespace {

sigset_t pipeSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

}  // namespace

PipeDispositionKeeper::PipeDispositionKeeper() noexcept
    : valid_(sigaction(SIGPIPE, nullptr, &saved_) == 0) {}

PipeDispositionKeeper::~PipeDispositionKeeper() {
  if (valid_) sigaction(SIGPIPE, &saved_, nullptr);
}

BrokenPipeScope::BrokenPipeScope() noexcept {
  const sigset_t pipe = pipeSignal();
  sigset_t before;
  if (pthread_sigmask(SIG_BLOCK, &pipe, &before) != 0) return;
  blocked_ = sigismember(&before, SIGPIPE) == 0;
}

BrokenPipeScope::~BrokenPipeScope() {
  if (!blocked_) return;
  const sigset_t pipe = pipeSignal();
  // Not blocked on entry, so not pending then either: one pending now came
  // from this call's writes.
  sigset_t pending;
  if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
    const timespec now{0, 0};
    sigtimedwait(&pipe, nullptr, &now);
  }
  pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace vesko::engine
