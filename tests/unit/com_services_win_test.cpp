// COM automation services against real automation objects of the system:
// the scripting runtime's dictionary and the Script Host's shell object.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/services/com_services.h"

namespace {

using rt::ComObject;
using rt::ComValue;

class ComServicesTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

ULONG references(const ComObject& o) {
  o.get()->AddRef();
  return o.get()->Release();
}

TEST_F(ComServicesTest, CreatesByProgIdByClassIdAndByNameInATypeLibrary) {
  ComObject o;
  EXPECT_TRUE(rt::com_is_empty(o));
  ASSERT_TRUE(rt::com_create(o, "Scripting.Dictionary"));
  EXPECT_FALSE(rt::com_is_empty(o));
  ASSERT_TRUE(rt::com_create(o, "{EE09B103-97E0-11CF-978F-00A02463E06F}"));  // the dictionary again
  EXPECT_FALSE(rt::com_is_empty(o));
  // The Script Host's shell by its coclass name in its type library.
  ComObject shell;
  ASSERT_TRUE(rt::com_create(shell, "WshShell", "wshom.ocx"));
  bool ok = false;
  ComValue env = rt::com_call_method(shell, "ExpandEnvironmentStrings", {rt::Text("%WINDIR%")}, &ok);
  ASSERT_TRUE(ok);
  ASSERT_TRUE(std::holds_alternative<rt::Text>(env));
  EXPECT_NE(std::get<rt::Text>(env).str().find(":\\"), std::string::npos);
}

TEST_F(ComServicesTest, FailedCreationLeavesTheVariableEmpty) {
  ComObject o;
  ASSERT_TRUE(rt::com_create(o, "Scripting.Dictionary"));
  EXPECT_FALSE(rt::com_create(o, "No.Such.Class"));
  EXPECT_TRUE(rt::com_is_empty(o));
  EXPECT_FALSE(rt::com_create(o, "NoSuchCoclass", "wshom.ocx"));
  EXPECT_FALSE(rt::com_create(o, "WshShell", "no-such-library.ocx"));  // "WshShell" is no ProgID
  EXPECT_FALSE(rt::com_create(o, "{00000000-0000-0000-0000-00000000ABCD}"));
  EXPECT_TRUE(rt::com_is_empty(o));
}

TEST_F(ComServicesTest, ValuesOfEveryKindTravelThereAndBack) {
  ComObject d;
  ASSERT_TRUE(rt::com_create(d, "Scripting.Dictionary"));
  std::vector<ComValue> values = {true, rt::Date{45000.5}, rt::Text("中文 text"), std::uint8_t{200},
                                  std::int16_t{-300}, std::int32_t{-70000}, 2.5f, 1.0 / 3};
  for (std::size_t i = 0; i < values.size(); ++i) {
    bool ok = false;
    rt::com_call_method(d, "Add", {std::int32_t(i), values[i]}, &ok);
    ASSERT_TRUE(ok) << i;
  }
  EXPECT_EQ(std::get<std::int32_t>(rt::com_call_method(d, "Count")), 8);  // a property, reached as one
  for (std::size_t i = 0; i < values.size(); ++i) {
    ComValue back = rt::com_call_method(d, "Item", {std::int32_t(i)});
    ASSERT_EQ(back.index(), values[i].index()) << i;
  }
  EXPECT_EQ(std::get<rt::Text>(rt::com_call_method(d, "Item", {std::int32_t(2)})), rt::Text("中文 text"));
  EXPECT_EQ(std::get<double>(rt::com_call_method(d, "Item", {std::int32_t(7)})), 1.0 / 3);
  EXPECT_EQ(std::get<rt::Date>(rt::com_call_method(d, "Item", {std::int32_t(1)})).days, 45000.5);
  // 64-bit integers go as their low 32 bits.
  rt::com_call_method(d, "Add", {rt::Text("wide"), std::int64_t{0x100000005}});
  EXPECT_EQ(std::get<std::int32_t>(rt::com_call_method(d, "Item", {rt::Text("wide")})), 5);
  EXPECT_TRUE(std::get<bool>(rt::com_call_method(d, "Exists", {rt::Text("wide")})));
}

TEST_F(ComServicesTest, SetPropertyPutsAndReportsFailure) {
  ComObject d;
  ASSERT_TRUE(rt::com_create(d, "Scripting.Dictionary"));
  EXPECT_TRUE(rt::com_set_property(d, "CompareMode", std::int32_t{1}));  // text comparison
  EXPECT_EQ(std::get<std::int32_t>(rt::com_call_method(d, "CompareMode")), 1);
  rt::com_call_method(d, "Add", {rt::Text("Key"), std::int32_t{1}});
  EXPECT_TRUE(std::get<bool>(rt::com_call_method(d, "Exists", {rt::Text("KEY")})));
  EXPECT_FALSE(rt::com_set_property(d, "NoSuchMember", std::int32_t{1}));
  EXPECT_FALSE(rt::com_set_property(d, "CompareMode", ComValue()));  // the empty value has no VARIANT
  bool ok = true;
  EXPECT_TRUE(std::holds_alternative<std::monostate>(rt::com_call_method(d, "NoSuchMember", {}, &ok)));
  EXPECT_FALSE(ok);
  EXPECT_FALSE(rt::com_set_property(ComObject(), "CompareMode", std::int32_t{1}));
}

TEST_F(ComServicesTest, ObjectResultsAndAssignmentCountReferences) {
  ComObject shell;
  ASSERT_TRUE(rt::com_create(shell, "WScript.Shell"));
  ComValue env = rt::com_call_method(shell, "Environment", {rt::Text("PROCESS")});
  ASSERT_TRUE(std::holds_alternative<ComObject>(env));
  EXPECT_FALSE(std::get<ComObject>(env).empty());

  ComObject d;
  ASSERT_TRUE(rt::com_create(d, "Scripting.Dictionary"));
  ULONG before = references(d);
  ComObject other;
  rt::com_assign(other, d);
  EXPECT_EQ(other.get(), d.get());
  EXPECT_EQ(references(d), before + 1);
  // An object passed as an argument and stored comes back as the same object.
  rt::com_call_method(d, "Add", {rt::Text("self"), other});
  ComValue back = rt::com_call_method(d, "Item", {rt::Text("self")});
  EXPECT_EQ(std::get<ComObject>(back).get(), d.get());
  back = ComValue();
  rt::com_call_method(d, "RemoveAll");
  rt::com_clear(other);
  EXPECT_TRUE(rt::com_is_empty(other));
  EXPECT_EQ(references(d), before);
}

}  // namespace
