// The values a script binds to the placeholders of vesko.ExecuteSQL.
#ifndef VESKO_LIBRARY_SQL_PARAMETERS_H
#define VESKO_LIBRARY_SQL_PARAMETERS_H

#include <cstdint>

#include "api/fm_api.h"

struct lua_State;

namespace vesko {

// [-0, +0] Appends host values for arguments `first` to the top of L's
// stack to `parameters`, in order: a string as text (its UTF-8 bytes, all
// of them), a number as a number, a boolean as 1 or 0, a timestamp as a
// host timestamp, nil as the empty value.  Any other value is offered to
// the host as text of no kind, which the host refuses.  Answers 0, or the
// host error with which the host refused a value (nothing more is
// appended then).  Only reads the stack: no metamethod or other script
// code runs.  Host failures raise as host_interface.h says.
int16_t appendSqlParameters(lua_State* L, int first, FMDataVect* parameters);

}  // namespace vesko

#endif
