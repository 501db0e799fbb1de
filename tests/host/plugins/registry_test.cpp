// Registering external functions and calling them as a calculation does.
#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

// Answers its parameter count, or host error 77 when the first is "fail".
int16_t countParameters(int16_t, const FMExprEnv* env, const FMDataVect* parameters,
                        FMData* result) {
  FMErrorRecord e{1, 0};
  if (env == nullptr) return 99;
  const uint32_t count = FM_DataVect_Size(parameters, &e);
  FMText* fail = FM_Text_Constructor1(&e);
  FM_Text_Assign(fail, "fail", FM_ENCODING_UTF8, &e);
  const bool failing =
      count > 0 && FM_Text_operatorEQ(FM_DataVect_AtAsText(parameters, 0, &e), fail, &e);
  FM_Text_Delete(fail, &e);
  if (failing) return 77;
  FMFixPt* n = FM_FixPt_Constructor1(static_cast<int32_t>(count), 16, &e);
  FM_Data_SetAsNumber(result, n, FM_KIND_NUMBER, &e);
  FM_FixPt_Delete(n, &e);
  return 0;
}

// Leaves the result untouched and deletes what it must not.
int16_t misbehave(int16_t, const FMExprEnv* env, const FMDataVect* parameters, FMData* result) {
  FMErrorRecord e{1, 0};
  FM_Data_Delete(result, &e);
  FM_DataVect_Delete(const_cast<FMDataVect*>(parameters), &e);
  FM_ExprEnv_Delete(const_cast<FMExprEnv*>(env), &e);
  return 0;
}

class RegistryTest : public HostTest {
 protected:
  int16_t add(const char* name, int16_t number, int16_t min, int16_t max,
              FMExternalFunction handler = countParameters) {
    FMQuadChar* id = FM_QuadChar_Constructor2('T', 'E', 'S', 'T', e());
    FMText* n = text(name);
    const int16_t error =
        FM_ExprEnv_RegisterExternalFunction(id, number, n, n, min, max, 0, handler, e());
    FM_Text_Delete(n, e());
    FM_QuadChar_Delete(id, e());
    return error;
  }
  int16_t remove(int16_t number) {
    FMQuadChar* id = FM_QuadChar_Constructor2('T', 'E', 'S', 'T', e());
    const int16_t error = FM_ExprEnv_UnRegisterExternalFunction(id, number, e());
    FM_QuadChar_Delete(id, e());
    return error;
  }
  void TearDown() override {
    for (int16_t number = 1; number <= 3; ++number) remove(number);
    HostTest::TearDown();
  }
};

TEST_F(RegistryTest, NamesAreUniqueWithoutRegardToCase) {
  const std::size_t before = vesko_host::registeredCount();
  EXPECT_EQ(add("Test_Count", 1, 0, -1), 0);
  EXPECT_TRUE(vesko_host::isRegistered("TEST_COUNT"));
  EXPECT_EQ(add("test_count", 2, 0, -1), 1210);  // the name is taken
  EXPECT_EQ(add("Test_Other", 1, 0, -1), 1210);  // the number is taken
  EXPECT_EQ(vesko_host::registeredCount(), before + 1);
  EXPECT_EQ(remove(1), 0);
  EXPECT_EQ(remove(1), 1224);
  EXPECT_FALSE(vesko_host::isRegistered("Test_Count"));
}

TEST_F(RegistryTest, RefusedRegistrationAnswersTheChosenError) {
  vesko_host::failRegistration(2, 5);
  EXPECT_EQ(add("Test_Count", 2, 0, -1), 5);
  vesko_host::failRegistration(2, 0);
  EXPECT_EQ(add("Test_Count", 2, 0, -1), 0);
}

TEST_F(RegistryTest, CallExternalChecksCountsAndPassesErrorsOn) {
  ASSERT_EQ(add("Test_Count", 1, 1, 2), 0);
  vesko_host::Value result;
  using vesko_host::textValue;
  EXPECT_EQ(vesko_host::callExternal("test_count", {textValue("a")}, &result), 0);
  EXPECT_EQ(vesko_host::textForm(result), "1");
  EXPECT_EQ(vesko_host::callExternal("Test_Count", {}, &result), 1201);
  EXPECT_EQ(vesko_host::callExternal("Test_Count", {textValue("a"), textValue("b"), textValue("c")},
                                     &result),
            1202);
  EXPECT_EQ(vesko_host::callExternal("Test_Count", {textValue("FAIL")}, &result), 77);
  EXPECT_EQ(vesko_host::callExternal("Test_Nothing", {}, &result), 1208);
  // The same through a calculation.
  EXPECT_EQ(vesko_host::evaluate("Test_Count(1; \"x\")", &result), 0);
  EXPECT_EQ(vesko_host::textForm(result), "2");
  EXPECT_EQ(vesko_host::evaluate("Test_Count", &result), 1201);
  EXPECT_EQ(vesko_host::evaluate("1 + Test_Count(\"fail\")", &result), 77);
}

TEST_F(RegistryTest, AHandlerCannotDeleteWhatTheHostLentIt) {
  ASSERT_EQ(add("Test_Misbehave", 3, 0, 0, misbehave), 0);
  vesko_host::Value result = vesko_host::textValue("before");
  EXPECT_EQ(vesko_host::callExternal("Test_Misbehave", {}, &result), 0);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);  // left untouched
  EXPECT_EQ(vesko_host::takeViolations().size(), 3u);
}

}  // namespace
}  // namespace vesko_test
