// The misuse the objects report, kept until a test takes it.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "host/instrument/instrument.h"
#include "host/substitute_host.h"

namespace vesko_host {

namespace {

// Reported with the handle registry's lock held, so taken after it, never
// before it.
std::mutex& violationsLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

std::vector<std::string>& violations() {
  static auto* list = new std::vector<std::string>();
  return *list;
}

}  // namespace

void recordViolation(std::string message) {
  const std::lock_guard<std::mutex> hold(violationsLock());
  std::fprintf(stderr, "vesko host: %s\n", message.c_str());
  violations().push_back(std::move(message));
}

std::vector<std::string> takeViolations() {
  const std::lock_guard<std::mutex> hold(violationsLock());
  std::vector<std::string> taken;
  taken.swap(violations());
  return taken;
}

}  // namespace vesko_host
