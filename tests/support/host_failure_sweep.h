// Fails each host operation of one step in turn: the sweep that every test
// of a handler's host failures runs.
#ifndef VESKO_TESTS_SUPPORT_HOST_FAILURE_SWEEP_H
#define VESKO_TESTS_SUPPORT_HOST_FAILURE_SWEEP_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/substitute_host.h"

namespace vesko_test {

// For n = 1, 2, ...: runs `prepare()`, then `step()` with the n-th host
// operation from the step's start failing (no memory and plain failure in
// turn), then `check(struck)`, where `struck` says whether the fault hit an
// operation of the step.  Ends after the first step the fault missed: by
// then each of the step's operations has failed once.  A step that never
// ends its operations stops the sweep at `most`.
template <typename Prepare, typename Step, typename Check>
void sweepHostFailures(Prepare&& prepare, Step&& step, Check&& check, std::uint64_t most = 3000) {
  for (std::uint64_t n = 1;; ++n) {
    SCOPED_TRACE("host operation " + std::to_string(n) + " fails");
    prepare();
    if (::testing::Test::HasFatalFailure()) return;
    vesko_host::failOperation(n, n % 2 == 0 ? FM_ERROR_BAD_ALLOC : FM_ERROR_FAILURE);
    step();
    const bool struck = !vesko_host::faultPending();
    vesko_host::failOperation(0, 0);
    check(struck);
    if (!struck || ::testing::Test::HasFatalFailure()) return;
    ASSERT_LT(n, most) << "the step never ran out of host operations";
  }
}

}  // namespace vesko_test

#endif
