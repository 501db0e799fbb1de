#include "functions/guard.h"

#include <string>

#include "engine/error_record.h"

namespace vesko {

void recordHostFailure(const std::exception& failure) noexcept {
  try {
    setError("3500", std::string("Host operation failed: ") + failure.what());
  } catch (...) {
    // The host cannot even store the record; the -1 answer is all it gets.
  }
}

}  // namespace vesko
