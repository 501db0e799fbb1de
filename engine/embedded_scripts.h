// Lua texts compiled into the plug-in: our own start-up scripts and the
// Lua modules of LPeg and LuaSocket, taken from their packages at build
// time.  Each is NUL-ended; the plug-in reads no module file at run time.
#ifndef VESKO_ENGINE_EMBEDDED_SCRIPTS_H
#define VESKO_ENGINE_EMBEDDED_SCRIPTS_H

#include <cstddef>

#define VESKO_EMBEDDED(symbol) \
  extern const char symbol[];  \
  extern const std::size_t symbol##_size;

VESKO_EMBEDDED(startupScript)
VESKO_EMBEDDED(utf8SubstringScript)
VESKO_EMBEDDED(reModule)
VESKO_EMBEDDED(socketModule)
VESKO_EMBEDDED(ltn12Module)
VESKO_EMBEDDED(mimeModule)
VESKO_EMBEDDED(socketTpModule)
VESKO_EMBEDDED(socketUrlModule)
VESKO_EMBEDDED(socketHeadersModule)
VESKO_EMBEDDED(socketFtpModule)
VESKO_EMBEDDED(socketHttpModule)
VESKO_EMBEDDED(socketSmtpModule)

#undef VESKO_EMBEDDED

#endif
