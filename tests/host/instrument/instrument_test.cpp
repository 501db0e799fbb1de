// The instrument: live object counts, misuse records and injected faults.
#include "tests/host/host_test_support.h"

namespace vesko_test {
namespace {

class InstrumentTest : public HostTest {
 protected:
  // The one violation recorded since the last call, or a note that there
  // was not exactly one.
  std::string onlyViolation() {
    const std::vector<std::string> violations = vesko_host::takeViolations();
    if (violations.size() != 1) return std::to_string(violations.size()) + " violations";
    return violations[0];
  }
};

TEST_F(InstrumentTest, CountsOnlyThePluginsOwnObjects) {
  FMText* t = FM_Text_Constructor1(e());
  FMData* d = FM_Data_Constructor1(e());
  FMQuadChar* q = FM_QuadChar_Constructor2('A', 'B', 'C', 'D', e());
  FM_Data_GetAsText(d, e());  // lent: not counted
  EXPECT_EQ(vesko_host::livePluginObjects().describe(), "text 1, data 1, plug-in identifier 1");
  EXPECT_EQ(vesko_host::livePluginObjects().total(), 3u);
  FM_Text_Delete(t, e());
  FM_Data_Delete(d, e());
  FM_QuadChar_Delete(q, e());
}

TEST_F(InstrumentTest, DoubleDeleteIsReportedAndHarmless) {
  FMText* t = FM_Text_Constructor1(e());
  FM_Text_Delete(t, e());
  FM_Text_Delete(t, e());
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_NE(onlyViolation().find("use of a deleted text"), std::string::npos);
}

TEST_F(InstrumentTest, UseAfterDeleteAnswersNeutralValues) {
  FMText* t = text("gone");
  FMData* d = FM_Data_Constructor1(e());
  FM_Text_Delete(t, e());
  EXPECT_EQ(FM_Text_GetSize(t, e()), 0u);
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_NE(onlyViolation().find("FM_Text_GetSize: use of a deleted text"), std::string::npos);
  char buffer[4] = "xyz";
  FM_Text_GetBytes(t, buffer, sizeof buffer, 0, FM_TEXT_TO_END, FM_ENCODING_UTF8, e());
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(onlyViolation().substr(0, 16), "FM_Text_GetBytes");
  EXPECT_EQ(FM_Data_SetAsText(d, t, nullptr, FM_KIND_TEXT, e()), -1);
  EXPECT_EQ(onlyViolation().substr(0, 17), "FM_Data_SetAsText");
  FM_Data_Delete(d, e());
}

TEST_F(InstrumentTest, AHandleFoundGoodLatelyIsStillCheckedForKindAndLife) {
  // Each handle is used first, so a later check may take the fast path.
  FMData* d = FM_Data_Constructor1(e());
  const FMText* lent = FM_Data_GetAsText(d, e());
  EXPECT_EQ(FM_Text_GetSize(lent, e()), 0u);
  EXPECT_EQ(FM_Data_GetNativeType(d, e()), FM_KIND_INVALID);
  // The same address as another kind of object.
  FM_Text_GetSize(reinterpret_cast<const FMText*>(d), e());
  EXPECT_NE(onlyViolation().find("is a data, not a text"), std::string::npos);
  // A text lent by a data that is gone, and the data itself.
  FM_Data_Delete(d, e());
  FM_Text_GetSize(lent, e());
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_NE(onlyViolation().find("FM_Text_GetSize"), std::string::npos);
  FM_Data_GetNativeType(d, e());
  EXPECT_NE(onlyViolation().find("use of a deleted data"), std::string::npos);
}

TEST_F(InstrumentTest, BorrowedAndHostOwnedObjectsCannotBeDeleted) {
  FMData* d = FM_Data_Constructor1(e());
  FM_Text_Delete(const_cast<FMText*>(FM_Data_GetAsText(d, e())), e());
  EXPECT_NE(onlyViolation().find("delete of a text borrowed"), std::string::npos);
  FM_Locale_Delete(const_cast<FMLocale*>(FM_Data_GetLocale(d, e())), e());
  EXPECT_NE(onlyViolation().find("owned by the host"), std::string::npos);
  EXPECT_EQ(bytes(FM_Data_GetAsText(d, e())), "");  // still there
  FM_Data_Delete(d, e());
  // The text the data lent is gone with it.
  const FMText* lent = FM_Data_GetAsText(d, e());
  EXPECT_EQ(lent, nullptr);
  vesko_host::takeViolations();
}

TEST_F(InstrumentTest, WrongKindUnknownAndNullHandles) {
  FMData* d = FM_Data_Constructor1(e());
  EXPECT_EQ(FM_Text_GetSize(reinterpret_cast<FMText*>(d), e()), 0u);
  EXPECT_NE(onlyViolation().find("is a data, not a text"), std::string::npos);
  int local = 0;
  FM_Data_GetNativeType(reinterpret_cast<FMData*>(&local), e());
  EXPECT_NE(onlyViolation().find("unknown handle"), std::string::npos);
  FM_Text_Assign(nullptr, "x", FM_ENCODING_UTF8, e());
  EXPECT_NE(onlyViolation().find("null text handle"), std::string::npos);
  FM_Data_Delete(d, e());
}

TEST_F(InstrumentTest, InjectedFaultFailsExactlyTheNthOperation) {
  const uint64_t before = vesko_host::operationCount();
  vesko_host::failOperation(2, FM_ERROR_BAD_ALLOC);
  FMText* t = FM_Text_Constructor1(e());
  EXPECT_EQ(code(), 0);
  FM_Text_Assign(t, "x", FM_ENCODING_UTF8, e());  // the second: fails, does nothing
  EXPECT_EQ(code(), FM_ERROR_BAD_ALLOC);
  EXPECT_EQ(FM_Text_GetSize(t, e()), 0u);
  EXPECT_EQ(code(), 0);
  EXPECT_EQ(vesko_host::operationCount() - before, 3u);

  vesko_host::failOperation(1, FM_ERROR_FAILURE);
  EXPECT_EQ(FM_Data_Constructor1(e()), nullptr);
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  EXPECT_EQ(vesko_host::livePluginObjects().total(), 1u);

  vesko_host::failOperation(1, FM_ERROR_FAILURE);
  vesko_host::failOperation(0, 0);  // cleared before it struck
  EXPECT_EQ(FM_Text_GetSize(t, e()), 0u);
  EXPECT_EQ(code(), 0);

  // A delete never fails: the fault passes to the operation after it.
  FMText* other = FM_Text_Constructor1(e());
  vesko_host::failOperation(1, FM_ERROR_FAILURE);
  FM_Text_Delete(other, e());
  EXPECT_EQ(code(), 0);
  FM_Text_GetSize(t, e());
  EXPECT_EQ(code(), FM_ERROR_FAILURE);
  FM_Text_Delete(t, e());
}

}  // namespace
}  // namespace vesko_test
