#include "library/sql_parameters.h"

#include <string_view>

#include "functions/conversion.h"
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
  const FMLocale* locale = host::dataLocale(value.get());

  for (int arg = first; arg <= top; ++arg) {
    const FMData* item = value.get();
    int16_t refused = 0;
    if (lua_isnil(L, arg)) {
      item = empty.get();
    } else {
      refused =
          toHostValue(L, arg, value.get(), number.get(), StringRule::kAllBytes, locale, nullptr);
      if (refused == kNoHostValue) {
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
