// The one lock every entry into the plug-in takes: FMExternCallProc and each
// external function's handler.  A server host may call from several
// threads, while the interpreter, the engine state and the error record
// serve one call at a time.  The lock is recursive because a script's
// vesko.Evaluate can call the external functions again on the same thread.
#ifndef VESKO_PLUGIN_ENTRY_LOCK_H
#define VESKO_PLUGIN_ENTRY_LOCK_H

#include <mutex>

namespace vesko {

// Process-wide, never destroyed: a host thread may still call while the
// library's static objects are being torn down.
inline std::recursive_mutex& entryLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

}  // namespace vesko

#endif
