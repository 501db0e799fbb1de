// The one lock every entry into the plug-in takes: FMExternCallProc and each
// external function's handler.  A server host may call from several
// threads, while the interpreter, the engine state and the error record
// serve one call at a time.  The lock is recursive because a script's
// vesko.Evaluate can call the external functions again on the same thread.
#ifndef VESKO_PLUGIN_ENTRY_LOCK_H
#define VESKO_PLUGIN_ENTRY_LOCK_H

#include <mutex>

namespace vesko {

// One for the loaded library; it goes when the library is unloaded, after
// which the host calls nothing in it.
inline std::recursive_mutex& entryLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace vesko

#endif
