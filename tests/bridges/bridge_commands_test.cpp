// The bridge's commands through their cell interface, where the application and the runtime call
// them: each reads its cells, calls the typed function and stores what it gives. C++ callers use
// the typed functions (the other bridge tests), so these pin the cell side: result cell kinds,
// fresh empty values on failure, targets by reference, and the error code left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bridges/automation_bridge.h"
#include "probe_object.h"

namespace {

using namespace bridges;
using automation::VARIANT;

std::string text_of(const rt::Cell& c) {
  const rt::Text owned = rt::Text::adopt(c.pointer<char>());
  return std::string(owned.view());
}

class BridgeCommands : public testing::Test {
 protected:
  BridgeCommands() {
    CoInitialize(nullptr);
    probe::register_classes();
    EXPECT_TRUE(create_object(probe_, "FilmFinder.Probe"));
  }
  ~BridgeCommands() override {
    // Later tests on this thread start from success.
    call_method(probe_, "Join", "z");
    EXPECT_EQ(automation_error(), kAutomationOk);
    probe_ = Object();
    CoUninitialize();
  }

  Object probe_;
};

TEST_F(BridgeCommands, MemberCommandsGiveCellsOfTheirKind) {
  ASSERT_TRUE(rt::call_bool(cmd::write_property, probe_, "Tag", "片名"));
  EXPECT_EQ(automation_error(), kAutomationOk);

  const rt::Cell read = rt::call(cmd::read_text_property, probe_, "Tag");
  EXPECT_EQ(read.type, rt::kText);
  EXPECT_EQ(text_of(read), "片名");

  const rt::Cell joined = rt::call(cmd::call_text_method, probe_, "Join", "a", rt::omitted, "c");
  EXPECT_EQ(joined.type, rt::kText);
  EXPECT_EQ(text_of(joined), "a|-|c");

  const rt::Cell sum = rt::call(cmd::read_number_property, probe_, "Sum", 1, 2.5, "3");
  EXPECT_EQ(sum.type, rt::kDouble);
  EXPECT_EQ(sum.as_double(), 6.5);

  Object child;
  ASSERT_TRUE(rt::call_bool(cmd::create_object, child, "FilmFinder.Probe"));
  ASSERT_TRUE(rt::call_bool(cmd::write_property, probe_, "Child", child));
  const rt::Cell object = rt::call(cmd::read_object_property, probe_, "Child");
  EXPECT_EQ(object.type, kObjectValue);
  const Object back = Object::adopt(object.pointer<ObjectHolder>());
  EXPECT_EQ(back.get(), child.get());
  const rt::Cell method_object = rt::call(cmd::call_object_method, probe_, "Child");
  EXPECT_EQ(method_object.type, kObjectValue);
  EXPECT_EQ(Object::adopt(method_object.pointer<ObjectHolder>()).get(), child.get());

  const rt::Cell variant = rt::call(cmd::read_variant_property, probe_, "Tag");
  EXPECT_EQ(variant.type, kVariantValue);
  const Variant held = Variant::adopt(variant.pointer<VARIANT>());
  ASSERT_NE(held.get(), nullptr);
  EXPECT_EQ(held.get()->vt, automation::VT_BSTR);
  EXPECT_EQ(text_of(rt::call(cmd::variant_to_text, held)), "片名");

  const rt::Cell nothing = rt::call(cmd::call_method, probe_, "Join", "x");
  EXPECT_EQ(nothing.type, 0);
  EXPECT_EQ(nothing.payload(), 0u);
  EXPECT_EQ(automation_error(), kAutomationOk);
}

TEST_F(BridgeCommands, FailedMemberCommandsGiveFreshEmptyValuesAndTheirCode) {
  Object empty;
  const rt::Cell object = rt::call(cmd::read_object_property, empty, "Child");
  EXPECT_EQ(automation_error(), kEmptyObject);
  ASSERT_EQ(object.type, kObjectValue);
  ASSERT_NE(object.pointer<ObjectHolder>(), nullptr) << "a fresh holder, not null";
  const Object fresh = Object::adopt(object.pointer<ObjectHolder>());
  EXPECT_NE(fresh.holder(), empty.holder());
  EXPECT_TRUE(fresh.empty());

  const rt::Cell variant = rt::call(cmd::read_variant_property, probe_, "NoSuchThing");
  EXPECT_EQ(automation_error(), kNotBound);
  ASSERT_EQ(variant.type, kVariantValue);
  const Variant block = Variant::adopt(variant.pointer<VARIANT>());
  ASSERT_NE(block.get(), nullptr);
  EXPECT_EQ(block.get()->vt, automation::VT_EMPTY);

  const rt::Cell text = rt::call(cmd::read_text_property, probe_, "Child");
  EXPECT_EQ(automation_error(), kUnconvertibleResult);
  EXPECT_EQ(text.type, rt::kText);
  EXPECT_EQ(text.pointer<char>(), nullptr);

  const rt::Cell number = rt::call(cmd::call_text_method, probe_, "Fail");
  EXPECT_EQ(automation_error(), kException);
  EXPECT_EQ(number.pointer<char>(), nullptr);

  EXPECT_FALSE(rt::call_bool(cmd::write_property, probe_, "NoSuchThing", "x"));
  EXPECT_EQ(automation_error(), kNotBound);
  EXPECT_EQ(rt::call(cmd::read_number_property, empty, "Count").as_double(), 0.0);
  EXPECT_EQ(automation_error(), kEmptyObject);
}

TEST_F(BridgeCommands, TargetsMayBeGivenByReference) {
  ObjectHolder* variable = probe_.holder();
  const rt::Cell by_ref = rt::Cell::by_ref(&variable, kObjectValue);
  ASSERT_TRUE(rt::call_bool(cmd::write_property, by_ref, "Tag", "乙"));
  EXPECT_EQ(text_of(rt::call(cmd::read_text_property, by_ref, "Tag")), "乙");
  EXPECT_FALSE(rt::call_bool(cmd::object_is_empty, by_ref));

  ObjectHolder* none = nullptr;
  EXPECT_TRUE(rt::call_bool(cmd::object_is_empty, rt::Cell::by_ref(&none, kObjectValue)));
  rt::call(cmd::read_text_property, rt::Cell::by_ref(&none, kObjectValue), "Tag");
  EXPECT_EQ(automation_error(), kEmptyObject);

  Variant value;
  VARIANT* block = value.get();
  const rt::Cell variant_ref = rt::Cell::by_ref(&block, kVariantValue);
  ASSERT_TRUE(rt::call_bool(cmd::set_variant, variant_ref, "丙"));
  EXPECT_EQ(text_of(rt::call(cmd::variant_to_text, variant_ref)), "丙");
  rt::call(cmd::clear_variant, variant_ref);
  const VARIANT zero{};
  EXPECT_EQ(std::memcmp(value.get(), &zero, sizeof zero), 0);
}

TEST_F(BridgeCommands, ObjectAndVariantCommandsActOnTheirCells) {
  Object copy;
  rt::call(cmd::copy_object, copy, probe_);
  EXPECT_EQ(copy.get(), probe_.get());
  EXPECT_FALSE(rt::call_bool(cmd::object_is_empty, copy));
  rt::call(cmd::clear_object, copy);
  EXPECT_TRUE(copy.empty());
  EXPECT_FALSE(rt::call_bool(cmd::create_object, copy, "No.Such.Class"));
  EXPECT_TRUE(copy.empty());

  Variant bytes, source, destination;
  const uint8_t raw[] = {4, 5, 6};
  ASSERT_TRUE(rt::call_bool(cmd::set_variant, bytes, rt::Bytes(raw)));
  EXPECT_TRUE(rt::call_bool(cmd::set_variant, bytes, 9, 2)) << "an element";
  EXPECT_EQ(static_cast<uint8_t*>(bytes.get()->parray->pvData)[2], 9);
  EXPECT_FALSE(rt::call_bool(cmd::set_variant, bytes, 9, 3)) << "past the end";
  EXPECT_FALSE(rt::call_bool(cmd::set_variant, bytes, rt::omitted)) << "nothing to store";

  ASSERT_TRUE(rt::call_bool(cmd::set_variant, source, "源"));
  rt::call(cmd::assign_variant, destination, source);
  EXPECT_EQ(text_of(rt::call(cmd::variant_to_text, destination)), "源");
  const rt::Cell none = rt::call(cmd::variant_to_text, bytes);
  EXPECT_EQ(none.type, rt::kText);
  EXPECT_EQ(none.pointer<char>(), nullptr) << "a byte array has no text form";

  EXPECT_FALSE(rt::call_bool(cmd::create_picture_object, copy, rt::Bytes(raw)));
  EXPECT_TRUE(copy.empty()) << "bytes that are no picture leave the object as it was";
}

// The typed functions take the bridge's blocks directly; a null block is the empty value.
TEST_F(BridgeCommands, TypedFunctionsTakeNullBlocksAsEmptyValues) {
  member::call(nullptr, "Join");
  EXPECT_EQ(automation_error(), kEmptyObject);
  const Object object = member::read_object(nullptr, "Child");
  ASSERT_NE(object.holder(), nullptr);
  EXPECT_TRUE(object.empty());
  EXPECT_FALSE(member::write(nullptr, "Tag", {}));
  EXPECT_TRUE(object_is_empty(static_cast<const ObjectHolder*>(nullptr)));
  EXPECT_FALSE(create_object(static_cast<ObjectHolder*>(nullptr), "VBScript.RegExp"));
  EXPECT_FALSE(set_variant(static_cast<VARIANT*>(nullptr), rt::Cell::of_int(1)));
  EXPECT_TRUE(variant_to_text(static_cast<const VARIANT*>(nullptr)).empty());
  clear_variant(static_cast<VARIANT*>(nullptr));
  assign_variant(static_cast<VARIANT*>(nullptr), nullptr);
}

}  // namespace
