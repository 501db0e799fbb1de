// What the interpreter has done since it started, for vesko.Stats(): the
// calls to each external function and their failures, and the runs the
// time limit stopped.
//
// Counting is one increment or two per call, at the call boundary behind
// the entry lock (functions/call_boundary.cpp).
#ifndef VESKO_ENGINE_FIGURES_H
#define VESKO_ENGINE_FIGURES_H

#include <cstdint>

struct lua_State;

namespace vesko::engine {

inline constexpr int kExternalFunctionCount = 7;

struct CallFigures {
  std::uint64_t calls = 0;
  std::uint64_t failures = 0;  // calls that answered or recorded an error
};

struct Figures {
  CallFigures functions[kExternalFunctionCount + 1];  // by function number, 1 to 7
  std::uint64_t timeLimitStops = 0;
};

extern Figures figures;

// The counts of function `number`; other numbers share a slot nobody reads.
inline CallFigures& callFigures(int number) {
  return figures.functions[number >= 1 && number <= kExternalFunctionCount ? number : 0];
}

// After shutdown: the counts start again with the next interpreter.
void resetFigures() noexcept;

// vesko.Stats(): [-0, +1] a table of the figures and the caches'.
int stats(lua_State* L);

// vesko.ClearCache(): [-0, +0] empties the caches of compiled texts and
// files.
int clearCaches(lua_State* L);

}  // namespace vesko::engine

#endif
