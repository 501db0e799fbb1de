// Shared by the host tests: a fixture that checks the instrument after each
// test, and short ways to make and read host objects through the C API.
#ifndef VESKO_TESTS_HOST_HOST_TEST_SUPPORT_H
#define VESKO_TESTS_HOST_HOST_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/fm_api.h"
#include "host/substitute_host.h"

namespace vesko_test {

// Fails a test that leaves plug-in objects alive or misuse unexamined.
class HostTest : public ::testing::Test {
 protected:
  void TearDown() override {
    vesko_host::failOperation(0, 0);
    EXPECT_EQ(vesko_host::livePluginObjects().describe(), "none");
    const std::vector<std::string> violations = vesko_host::takeViolations();
    EXPECT_TRUE(violations.empty()) << violations.front();
  }

  // A fresh error record, as a caller sets one before each operation.
  FMErrorRecord* e() {
    error_ = FMErrorRecord{1, 0};
    return &error_;
  }
  int code() const { return error_.code; }

  FMText* text(const std::string& utf8) {
    FMText* t = FM_Text_Constructor1(e());
    FM_Text_AssignWithLength(t, utf8.data(), static_cast<uint32_t>(utf8.size()), FM_ENCODING_UTF8,
                             e());
    return t;
  }

  // The text's units [position, position + size) in `encoding`, with a
  // buffer large enough for any text.
  std::string bytes(const FMText* t, int32_t encoding = FM_ENCODING_UTF8, uint32_t position = 0,
                    uint32_t size = FM_TEXT_TO_END) {
    const uint32_t units = FM_Text_GetSize(t, e());
    std::vector<char> buffer(units * 4 + 1, 'x');
    FM_Text_GetBytes(t, buffer.data(), static_cast<uint32_t>(buffer.size()), position, size,
                     encoding, e());
    return std::string(buffer.data());
  }

  FMErrorRecord error_{1, 0};
};

}  // namespace vesko_test

#endif
