// A look at the loaded plug-in's engine from outside, for the invariant
// every call keeps: between calls the interpreter is at rest (the main
// stack holds the anchor thread alone, no coroutine hold, no run, call,
// hidden frame or locale mark open).
//
// The plug-in exports nothing but its entry point, so the probe finds the
// engine's variables in the library file's own symbol table, at the
// address the library was loaded at.
#ifndef VESKO_TESTS_SUPPORT_ENGINE_PROBE_H
#define VESKO_TESTS_SUPPORT_ENGINE_PROBE_H

#include <string>

namespace vesko_test {

// An empty answer when the engine is at rest (or not running); else what
// is out of place.  `library` is the plug-in's dlopen handle.
std::string engineOutOfRest(void* library);

// The main stack's height and the anchor thread's, or -1 when no
// interpreter runs.
struct EngineHeights {
  int mainStack = -1;
  int anchors = -1;
};
EngineHeights engineHeights(void* library);

}  // namespace vesko_test

#endif
