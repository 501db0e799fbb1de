// The plug-in's string table: its name, description, version and the seven
// function prototypes, numbered as the host and the registration expect.
#ifndef VESKO_PLUGIN_STRING_TABLE_H
#define VESKO_PLUGIN_STRING_TABLE_H

#include <cstdint>

namespace vesko {

enum StringId : unsigned {
  kStringName = 1,
  kStringDescription = 2,
  kStringVersion = 3,
  kStringFirstPrototype = 101  // 101 to 107: functions 1 to 7
};

// Copies string `id` into `buffer` the way a platform resource-string loader
// does: at most capacity - 1 units, always NUL-ended when capacity > 0.
// Answers the number of units copied; an unknown id copies nothing.  The
// instance handle names the library the strings belong to; this build keeps
// them as data, so it is passed through unused.
int loadResourceString(void* instance, unsigned id, char16_t* buffer, int capacity);

}  // namespace vesko

#endif
