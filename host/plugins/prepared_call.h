// A call of a registered external function whose parameters, result and
// environment the host builds once, so that making it many times measures
// the plug-in's own cost and nothing of the host's set-up.
#ifndef VESKO_HOST_PREPARED_CALL_H
#define VESKO_HOST_PREPARED_CALL_H

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "host/substitute_host.h"

namespace vesko_host {

class PreparedCall {
 public:
  // The function must be registered; a missing one makes call() answer
  // the unknown-function error.
  PreparedCall(std::string_view name, const std::vector<Value>& arguments);
  ~PreparedCall();
  PreparedCall(const PreparedCall&) = delete;
  PreparedCall& operator=(const PreparedCall&) = delete;

  // One call of the handler inside a calculation of its own; answers its
  // host error number.  The result value is reused from call to call.
  int16_t call();
  Value result() const;
  // The handles the handler is given, for replaying its host operations.
  const FMDataVect* parameters() const;
  FMData* answer() const;

 private:
  struct Objects;
  std::unique_ptr<Objects> objects_;
};

}  // namespace vesko_host

#endif
