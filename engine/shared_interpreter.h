// The interpreter's own symbols, made visible to the C modules scripts load.
#ifndef VESKO_ENGINE_SHARED_INTERPRETER_H
#define VESKO_ENGINE_SHARED_INTERPRETER_H

namespace vesko::engine {

// Debian's Lua C modules (lua-cjson, ...) link no interpreter of their own:
// they expect lua_* to be found in the process's global scope. The host opens
// the plug-in, and with it the interpreter library, with local symbols, so
// `require "cjson"` would fail on an undefined lua_checkstack. This puts the
// already loaded interpreter library into the global scope; the plug-in
// itself still exports only FMExternCallProc. Harmless when the interpreter
// is linked in statically or already global.
void shareInterpreterSymbols();

}  // namespace vesko::engine

#endif
