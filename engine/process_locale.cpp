#include "engine/process_locale.h"

#include <clocale>
#include <cstring>

namespace vesko::engine {

LocaleScope::LocaleScope() noexcept {
  const char* name = std::setlocale(LC_ALL, nullptr);
  if (name == nullptr) return;
  try {
    saved_ = name;  // the name setlocale lends changes with the locale
    valid_ = true;
  } catch (...) {
    // No copy, no restore: the call runs on with whatever locale it has.
  }
}

LocaleScope::~LocaleScope() {
  if (!valid_) return;
  // The usual case costs one query: nothing changed, nothing is set.
  const char* now = std::setlocale(LC_ALL, nullptr);
  if (now != nullptr && std::strcmp(now, saved_.c_str()) == 0) return;
  std::setlocale(LC_ALL, saved_.c_str());
}

}  // namespace vesko::engine
