// The process's locale belongs to the host.  A script may change it with
// os.setlocale for its own run, but the change must not outlive the
// external-function call that made it: a decimal comma left behind would
// break number reading in every later script.
#ifndef VESKO_ENGINE_PROCESS_LOCALE_H
#define VESKO_ENGINE_PROCESS_LOCALE_H

#include <string>

namespace vesko::engine {

// Notes the process's locale (all categories) when made and puts it back
// when it ends, if a script changed it meanwhile.  Each call has its own,
// so a nested call gives the outer script back the locale that script had
// chosen.  Never raises: when the name cannot be kept, nothing is restored.
class LocaleScope {
 public:
  LocaleScope() noexcept;
  ~LocaleScope();
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

 private:
  std::string saved_;
  bool valid_ = false;
};

}  // namespace vesko::engine

#endif
