// Registering the seven external functions with the host and withdrawing
// them again.
#ifndef VESKO_PLUGIN_REGISTRATION_H
#define VESKO_PLUGIN_REGISTRATION_H

namespace vesko {

inline constexpr char kPluginId[5] = "VSKO";

// Registers functions 1 to 7 in order.  When one fails, the ones already
// registered are withdrawn in descending order and false is answered.
bool registerFunctions();

// Withdraws functions 7 to 1; failures are ignored.
void unregisterFunctions() noexcept;

}  // namespace vesko

#endif
