#include "engine/shared_interpreter.h"

#include <dlfcn.h>

#include "lua.hpp"

namespace vesko::engine {

// RTLD_NOLOAD never loads a second copy: it only raises the scope of the
// library already mapped. The extra reference it takes is dropped at once;
// the library stays global for as long as the plug-in keeps it loaded.
//
// The modules then call the C++ build of the interpreter, whose errors are
// C++ exceptions. They unwind through the modules' C frames (built with
// unwind tables, as Debian builds them); lua-cjson frees its buffers before
// it raises, as it must under longjmp too.
void shareInterpreterSymbols() {
  Dl_info where{};
  if (dladdr(reinterpret_cast<void*>(&lua_newstate), &where) == 0 || where.dli_fname == nullptr)
    return;
  if (void* library = dlopen(where.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_GLOBAL))
    dlclose(library);
}

}  // namespace vesko::engine
