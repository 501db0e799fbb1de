// vesko.Evaluate and vesko.ExecuteSQL: scripts calling back into the host.
// Both report failures as Lua errors.
#ifndef VESKO_LIBRARY_HOST_CALLBACKS_H
#define VESKO_LIBRARY_HOST_CALLBACKS_H

struct lua_State;

namespace vesko {

// [-0, +1] vesko.Evaluate(expression): the result of a host calculation,
// evaluated in the environment of the external function now running, as
// text.
int evaluateExpression(lua_State* L);

// [-0, +1] vesko.ExecuteSQL(query, ...): the rows of an SQL query on the
// open database file, { {f1 = "...", f2 = "..."}, ... }, every cell a
// string.  Further arguments are bound to the query's "?" placeholders by
// the host (sql_parameters.h).
int executeSql(lua_State* L);

}  // namespace vesko

#endif
