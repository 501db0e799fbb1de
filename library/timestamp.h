// The "vesko.timestamp" type: a full userdata whose whole payload is one
// double, a count of seconds, and whose metatable is the one registered
// under that name.  Scripts use it for host dates, times and timestamps.
#ifndef VESKO_LIBRARY_TIMESTAMP_H
#define VESKO_LIBRARY_TIMESTAMP_H

struct lua_State;

namespace vesko {

inline constexpr const char* kTimestampType = "vesko.timestamp";

// Registers the method table (vesko.timestamp, package.loaded entry) and
// the metatable.  Leaves the method table on the stack.
void registerTimestampType(lua_State* L);

// Pushes a new timestamp and answers its payload, which the caller writes
// before the value can be observed.
double* newTimestamp(lua_State* L);

// [-0, +0] The payload of the timestamp at `index`, or null when the value
// there is not a full userdata of a double's size with the timestamp
// metatable.  Never raises, runs no Lua code and allocates nothing; L has
// room for two values.
double* toTimestamp(lua_State* L, int index);

}  // namespace vesko

#endif
