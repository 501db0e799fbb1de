#include "library/sql_parameters.h"

#include <string_view>

#include "functions/conversion.h"
#include "library/timestamp.h"
#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

int16_t appendSqlParameters(lua_State* L, int first, FMDataVect* parameters) {
  const int top = lua_gettop(L);
  if (first > top) return 0;
  // One set of working objects serves every argument: the vector keeps
  // copies.  `empty` is never set, so it stays the host's empty value.
  host::Data value = host::newData();
  host::Data empty = host::newData();
  host::Text text = host::newText();
  host::FixPt number = host::newFixPt();
  host::DateTime moment;
  const FMLocale* locale = host::dataLocale(value.get());

  for (int arg = first; arg <= top; ++arg) {
    const FMData* item = value.get();
    int16_t refused = 0;
    switch (lua_type(L, arg)) {
      case LUA_TNIL:
        item = empty.get();
        break;
      case LUA_TBOOLEAN:
        host::fixPtAssignInt(number.get(), lua_toboolean(L, arg) ? 1 : 0);
        host::dataSetNumber(value.get(), number.get(), FM_KIND_NUMBER);
        break;
      case LUA_TNUMBER:
        host::fixPtAssignDouble(number.get(), lua_tonumber(L, arg));
        host::dataSetNumber(value.get(), number.get(), FM_KIND_NUMBER);
        break;
      case LUA_TSTRING: {
        std::size_t length = 0;
        const char* bytes = lua_tolstring(L, arg, &length);
        host::textAssign(text.get(), std::string_view(bytes, length), host::kUtf8);
        refused = host::dataSetText(value.get(), text.get(), locale, FM_KIND_TEXT);
        break;
      }
      default:
        if (const double* payload = toTimestamp(L, arg)) {
          if (!moment) moment = host::newDateTime();
          host::fixPtAssignDouble(number.get(), *payload + kTimestampEpochOffset);
          host::dateTimeSetSeconds(moment.get(), number.get());
          host::dataSetTimeStamp(value.get(), moment.get(), FM_KIND_TIMESTAMP);
        } else {
          // A table, function, thread or other userdata has no host kind.
          host::textAssign(text.get(), lua_typename(L, lua_type(L, arg)), host::kNative);
          refused = host::dataSetText(value.get(), text.get(), locale, FM_KIND_INVALID);
        }
    }
    if (refused > 0) return refused;
    host::vectPushBack(parameters, item);
  }
  return 0;
}

}  // namespace vesko
