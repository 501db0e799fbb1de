// The host owns the process's SIGPIPE disposition; scripts still write to
// pipes and sockets whose reader has gone.
//
// LuaSocket sets SIGPIPE to be ignored, process-wide, when its core opens:
// start-up and any later opening of the core put the host's disposition
// back.  A write to a broken pipe or socket then raises SIGPIPE at the
// writing thread, which by default ends the host.  So each library function
// that can write to one (print, io's writes, flushes and closes, a file's
// finalizer, LuaSocket's methods) runs with SIGPIPE blocked on the calling
// thread: the write fails with EPIPE (LuaSocket answers "closed", io nil and
// a message), and the signal the call raised is taken back before the
// thread unblocks it.  Only the calling thread is affected, and only for
// that function: a blocked mask for a whole call would cost every call
// system calls, and would pass to the children io.popen starts.
#ifndef VESKO_ENGINE_BROKEN_PIPE_H
#define VESKO_ENGINE_BROKEN_PIPE_H

#include <signal.h>

namespace vesko::engine {

// Notes the process's SIGPIPE disposition when made and puts it back when
// it ends.  Never raises.
class PipeDispositionKeeper {
 public:
  PipeDispositionKeeper() noexcept;
  ~PipeDispositionKeeper();
  PipeDispositionKeeper(const PipeDispositionKeeper&) = delete;
  PipeDispositionKeeper& operator=(const PipeDispositionKeeper&) = delete;

 private:
  struct sigaction saved_ {};
  bool valid_ = false;
};

// Holds SIGPIPE blocked on the calling thread for its lifetime and discards
// one the thread raised meanwhile.  Nests; a thread that had SIGPIPE
// blocked already is left alone.  Never raises.
class BrokenPipeScope {
 public:
  BrokenPipeScope() noexcept;
  ~BrokenPipeScope();
  BrokenPipeScope(const BrokenPipeScope&) = delete;
  BrokenPipeScope& operator=(const BrokenPipeScope&) = delete;

 private:
  bool blocked_ = false;  // this scope blocked it
};

}  // namespace vesko::engine

#endif
