// The process's locale belongs to the host.  A script may change it with
// os.setlocale for its own run, but the change must not outlive the
// external-function call that made it: a decimal comma left behind would
// break number reading in every later script.
//
// Every call opens a mark (functions/call_boundary.cpp).  Nothing is read
// or copied while no script changes the locale: os.setlocale itself notes
// the locale in force in the innermost open mark, before its first change
// within that call, and the mark puts it back when the call ends.  A
// nested call thus gives the outer script back the locale that script had
// chosen.
#ifndef VESKO_ENGINE_PROCESS_LOCALE_H
#define VESKO_ENGINE_PROCESS_LOCALE_H

#include <string>

struct lua_State;

namespace vesko::engine {

class LocaleMark {
 public:
  LocaleMark() noexcept;
  ~LocaleMark();  // puts back the noted locale, if any
  LocaleMark(const LocaleMark&) = delete;
  LocaleMark& operator=(const LocaleMark&) = delete;

  // Notes the locale in force, once per mark.  Answers false when it
  // cannot be kept (no memory): the change must then not be made.
  bool noteBeforeChange() noexcept;

 private:
  LocaleMark* outer_;
  std::string saved_;
  bool noted_ = false;
};

// Start-up, with the os library open: os.setlocale notes the locale in
// the innermost mark before it changes anything.  [-0, +0]
void watchLocale(lua_State* L);

}  // namespace vesko::engine

#endif
