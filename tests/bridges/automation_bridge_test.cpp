#include "bridges/automation_bridge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <latch>
#include <string>
#include <thread>

#include "probe_object.h"

namespace {

using namespace bridges;
using automation::VARIANT;
using probe::Probe;

std::string text(const rt::Text& t) {
  return std::string(t.view());
}

// The cell of an object variable passed by reference.
rt::Cell ref_cell(ObjectHolder*& variable) {
  return rt::Cell::by_ref(&variable, kObjectValue);
}

class Bridge : public testing::Test {
 protected:
  Bridge() {
    CoInitialize(nullptr);
    probe::register_classes();
    EXPECT_TRUE(create_object(probe_, "FilmFinder.Probe"));
  }
  ~Bridge() override { CoUninitialize(); }

  Object probe_;
};

TEST_F(Bridge, ErrorCodesOfFailedCalls) {
  Object empty, plain, blind, regexp;
  ASSERT_TRUE(create_object(plain, "FilmFinder.Plain"));
  ASSERT_TRUE(create_object(blind, "FilmFinder.Blind"));
  ASSERT_TRUE(create_object(regexp, "VBScript.RegExp"));
  Object child;
  ASSERT_TRUE(create_object(child, "FilmFinder.Probe"));
  ASSERT_TRUE(write_property(probe_, "Child", child));
  const rt::Bytes bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("ab"), 2));

  const struct {
    const char* what;
    std::function<void()> call;
    int32_t code;
  } cases[] = {
      {"empty object", [&] { EXPECT_TRUE(read_text_property(empty, "Tag").empty()); },
       kEmptyObject},
      {"no dispatch", [&] { read_text_property(plain, "Tag"); }, kNoDispatch},
      {"unknown member", [&] { EXPECT_FALSE(write_property(regexp, "Singleline", true)); },
       kNotBound},
      {"unknown name", [&] { read_text_property(probe_, "NoSuchThing"); }, kNotBound},
      {"no type information", [&] { read_text_property(blind, "Tag"); }, kNoTypeInfo},
      {"too many arguments", [&] { call_method(probe_, "Join", "a", "b", "c", "d"); },
       kTooManyArguments},
      {"property with an argument", [&] { read_text_property(regexp, "Pattern", 1); },
       kTooManyArguments},
      {"byte set argument", [&] { call_method(probe_, "Kind", bytes); }, kUnconvertibleArgument},
      {"object read as text", [&] { EXPECT_TRUE(read_text_property(probe_, "Child").empty()); },
       kUnconvertibleResult},
      {"nothing read as object",
       [&] { EXPECT_TRUE(call_object_method(probe_, "Nothing").empty()); }, kUnconvertibleResult},
      {"missing required argument", [&] { call_method(probe_, "Join"); }, kBadParamCount},
      {"raised error", [&] { call_method(probe_, "Fail"); }, kException},
      {"object for a text", [&] { call_text_method(probe_, "Join", child); }, kTypeMismatch},
      {"number too big", [&] { call_method(probe_, "Sum", 1e12); }, kOverflow},
      {"omitted required one", [&] { call_text_method(probe_, "Join", rt::omitted, "b"); },
       kParamNotOptional},
      {"success", [&] { EXPECT_EQ(text(call_text_method(probe_, "Join", "x")), "x|-|-"); },
       kAutomationOk},
  };
  for (const auto& c : cases) {
    c.call();
    EXPECT_EQ(automation_error(), c.code) << c.what;
  }
}

TEST_F(Bridge, FailuresOfInvokeKeepTheirOwnCodes) {
  const struct {
    const char* what;
    std::function<void()> call;
    int32_t code;
  } cases[] = {
      {"parameter of a type with no conversion", [&] { call_method(probe_, "Price", 5); },
       kBadVarType},
      {"member the object does not implement",
       [&] { EXPECT_TRUE(call_text_method(probe_, "Gone").empty()); }, kMemberNotFound},
      {"named arguments refused",
       [&] {
         EXPECT_EQ(read_number_property(probe_, "Raise", automation::DISP_E_NONAMEDARGS), 0.0);
       },
       kNoNamedArgs},
      {"parameter not found",
       [&] {
         EXPECT_TRUE(call_object_method(probe_, "Raise", automation::DISP_E_PARAMNOTFOUND).empty());
       },
       kParamNotFound},
      {"bad index, a dispatch code of no code of its own",
       [&] {
         const Variant v = read_variant_property(probe_, "Raise", automation::DISP_E_BADINDEX);
         ASSERT_NE(v.get(), nullptr);
         EXPECT_EQ(v.get()->vt, automation::VT_EMPTY);
       },
       kOtherInvokeFailure},
      {"unknown name, likewise",
       [&] { call_method(probe_, "Raise", automation::DISP_E_UNKNOWNNAME); }, kOtherInvokeFailure},
  };
  for (const auto& c : cases) {
    call_text_method(probe_, "Join", "x");
    ASSERT_EQ(automation_error(), kAutomationOk);
    c.call();
    EXPECT_EQ(automation_error(), c.code) << c.what;
  }
}

TEST_F(Bridge, EmptyResultsAreFreshEmptyValues) {
  Object empty;
  Object object = read_object_property(empty, "Child");
  ASSERT_NE(object.holder(), nullptr);
  EXPECT_TRUE(object_is_empty(object));
  Variant variant = read_variant_property(empty, "Tag");
  ASSERT_NE(variant.get(), nullptr);
  EXPECT_EQ(variant.get()->vt, automation::VT_EMPTY);
  EXPECT_EQ(read_number_property(empty, "Count"), 0.0);
}

TEST_F(Bridge, OmittedArgumentsInTheMiddleAreMissingAtTheEndDropped) {
  EXPECT_EQ(text(call_text_method(probe_, "Join", "a", rt::omitted, "c")), "a|-|c");
  EXPECT_EQ(text(call_text_method(probe_, "Join", "a", "b", rt::omitted, rt::omitted)), "a|b|-");
  EXPECT_EQ(automation_error(), kAutomationOk) << "four cells, two of them dropped";
  // Kind's one parameter is required: dropped, it is a wrong count, not a missing argument.
  call_method(probe_, "Kind", rt::omitted);
  EXPECT_EQ(automation_error(), kBadParamCount);
}

TEST_F(Bridge, VariableArgumentListsPassExtraArguments) {
  EXPECT_EQ(read_number_property(probe_, "Sum", 1, 2.5, "3"), 6.5);
  EXPECT_EQ(automation_error(), kAutomationOk);
}

TEST_F(Bridge, ByReferenceParametersWriteBack) {
  int32_t n = 21;
  call_method(probe_, "Twice", rt::Ref<int32_t>{&n});
  EXPECT_EQ(n, 42);
  call_method(probe_, "Twice", n);
  EXPECT_EQ(n, 42) << "a value argument is not written back";

  double d = 2.5;  // changed to the declared Long (round half to even), doubled, back to double
  call_method(probe_, "Twice", rt::Cell::by_ref(&d, rt::kDouble));
  EXPECT_EQ(d, 4.0);

  char* name = rt::make_text("影片");
  call_method(probe_, "Rename", rt::Ref<char*>{&name});
  EXPECT_STREQ(name, "影片!");
  rt::free_block(name);

  char* constant = nullptr;  // the empty text
  call_method(probe_, "Rename", rt::Ref<char*>{&constant});
  EXPECT_STREQ(constant, "!");
  rt::free_block(constant);
}

TEST_F(Bridge, ObjectsByReferenceAreReplacedAndTheOldOneReleased) {
  Object child;
  ASSERT_TRUE(create_object(child, "FilmFinder.Probe"));
  ASSERT_TRUE(write_property(probe_, "Child", child));
  Probe* given = Probe::of(child.get());

  Object old;
  ASSERT_TRUE(create_object(old, "FilmFinder.Probe"));
  Probe* replaced = Probe::of(old.get());
  replaced->AddRef();  // ours, to watch it after the caller lets go
  const int given_before = given->references();

  ObjectHolder* variable = old.holder();
  call_method(probe_, "Swap", ref_cell(variable));
  EXPECT_EQ(automation_error(), kAutomationOk);
  EXPECT_EQ(variable, old.holder()) << "the caller's holder is kept";
  EXPECT_EQ(old.get(), child.get());
  EXPECT_EQ(given->references(), given_before + 1) << "one more, for the caller's variable";
  EXPECT_EQ(replaced->references(), 1) << "only ours is left";
  const int alive = probe::g_probes_alive;
  replaced->Release();
  EXPECT_EQ(probe::g_probes_alive.load(), alive - 1);

  // Passed by value, the object is not written back and no reference stays behind.
  Object kept;
  ASSERT_TRUE(create_object(kept, "FilmFinder.Probe"));
  Probe* kept_probe = Probe::of(kept.get());
  call_method(probe_, "Swap", kept);
  EXPECT_EQ(automation_error(), kAutomationOk);
  EXPECT_EQ(kept.get(), static_cast<automation::IUnknown*>(kept_probe));
  EXPECT_EQ(kept_probe->references(), 1);
  EXPECT_EQ(given->references(), given_before + 1);

  // An empty variable, and one without a holder, receive the object.
  Object empty;
  ObjectHolder* empty_variable = empty.holder();
  call_method(probe_, "Swap", ref_cell(empty_variable));
  EXPECT_EQ(empty.get(), child.get());
  ObjectHolder* no_holder = nullptr;
  call_method(probe_, "Swap", ref_cell(no_holder));
  ASSERT_NE(no_holder, nullptr);
  const Object filled = Object::adopt(no_holder);
  EXPECT_EQ(filled.get(), child.get());
  EXPECT_EQ(given->references(), given_before + 3);

  // Nothing given back empties the variable and releases what it held.
  ASSERT_TRUE(write_property(probe_, "Child", Object()));
  EXPECT_EQ(given->references(), given_before + 2);
  variable = old.holder();
  call_method(probe_, "Swap", ref_cell(variable));
  EXPECT_EQ(automation_error(), kAutomationOk);
  EXPECT_TRUE(object_is_empty(old));
  EXPECT_EQ(given->references(), given_before + 1);
}

TEST_F(Bridge, VariantsByReferenceAreReplacedAndWhatTheyHeldReleased) {
  Object child;
  ASSERT_TRUE(create_object(child, "FilmFinder.Probe"));
  ASSERT_TRUE(write_property(probe_, "Child", child));
  Probe* given = Probe::of(child.get());
  const int given_before = given->references();

  Object held;
  ASSERT_TRUE(create_object(held, "FilmFinder.Probe"));
  Probe* replaced = Probe::of(held.get());
  Variant variant;
  ASSERT_TRUE(set_variant(variant, held));
  ASSERT_EQ(replaced->references(), 2);

  call_method(probe_, "Trade", variant.ref_cell());
  EXPECT_EQ(automation_error(), kAutomationOk);
  ASSERT_EQ(variant.get()->vt, automation::VT_DISPATCH);
  EXPECT_EQ(static_cast<automation::IUnknown*>(variant.get()->pdispVal), child.get());
  EXPECT_EQ(replaced->references(), 1) << "the variant's reference is given back";
  EXPECT_EQ(given->references(), given_before + 1);

  // A text is replaced too (its string is freed: the sanitized build checks that).
  Variant named;
  ASSERT_TRUE(set_variant(named, "旧"));
  call_method(probe_, "Trade", named.ref_cell());
  EXPECT_EQ(named.get()->vt, automation::VT_DISPATCH);
  EXPECT_EQ(given->references(), given_before + 2);

  // Passed by value, the variant is not written back.
  ASSERT_TRUE(set_variant(named, "旧"));
  call_method(probe_, "Trade", named);
  EXPECT_EQ(automation_error(), kAutomationOk);
  EXPECT_EQ(text(variant_to_text(named)), "旧");
  EXPECT_EQ(given->references(), given_before + 1);

  // A variable without a block receives a fresh one.
  VARIANT* no_block = nullptr;
  call_method(probe_, "Trade", rt::Cell::by_ref(&no_block, kVariantValue));
  ASSERT_NE(no_block, nullptr);
  Variant filled = Variant::adopt(no_block);
  EXPECT_EQ(filled.get()->vt, automation::VT_DISPATCH);
  EXPECT_EQ(given->references(), given_before + 2);
  clear_variant(filled);
  clear_variant(variant);
  EXPECT_EQ(given->references(), given_before);
}

TEST_F(Bridge, VariablesBindForReadAndWrite) {
  EXPECT_TRUE(write_property(probe_, "TAG", "标签"));  // names bind in any case
  EXPECT_EQ(probe::g_last_flags, automation::DISPATCH_PROPERTYPUT);
  EXPECT_EQ(text(read_text_property(probe_, "Tag")), "标签");
  EXPECT_EQ(probe::g_last_flags, automation::DISPATCH_PROPERTYGET);

  Object child;
  ASSERT_TRUE(create_object(child, "FilmFinder.Probe"));
  EXPECT_TRUE(write_property(probe_, "Child", child));
  EXPECT_EQ(probe::g_last_flags, automation::DISPATCH_PROPERTYPUTREF) << "an object variable";
  Object back = read_object_property(probe_, "Child");
  EXPECT_EQ(back.get(), child.get());
}

TEST_F(Bridge, ArgumentKindsBecomeVariantTypes) {
  Object child;
  ASSERT_TRUE(create_object(child, "FilmFinder.Probe"));
  Variant variant;
  ASSERT_TRUE(set_variant(variant, 7));
  const struct {
    rt::Cell cell;
    int32_t vt;
  } cases[] = {
      {rt::Cell::of_bool(true), automation::VT_BOOL},
      {rt::Cell::of_byte(200), automation::VT_UI1},
      {rt::Cell::of_short(-3), automation::VT_I2},
      {rt::Cell::of_int(5), automation::VT_I4},
      {rt::Cell::of_int64(int64_t{1} << 40), automation::VT_I4},
      {rt::Cell::of_float(1.5f), automation::VT_R4},
      {rt::Cell::of_double(1.5), automation::VT_R8},
      {rt::Cell::of_double(45000.5, rt::kDateTime), automation::VT_DATE},
      {rt::Cell::of_pointer("文本", rt::kText), automation::VT_BSTR},
      {child.cell(), automation::VT_UNKNOWN},
      {variant.cell(), automation::VT_I4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_number_property(probe_, "Kind", c.cell), c.vt) << std::hex << c.cell.type;
  }
  const struct {
    rt::Cell cell;
    const char* as_text;
  } values[] = {
      {rt::Cell::of_bool(true), "-1"},
      {rt::Cell::of_int64((int64_t{1} << 40) + 5), "5"},
      {rt::Cell::of_double(0.1), "0.1"},
      {rt::Cell::of_double(1e20), "1E+20"},
      {rt::Cell::of_double(45000.5, rt::kDateTime), "2023/3/15 12:00:00"},
      {rt::Cell::of_pointer("中文", rt::kText), "中文"},
  };
  for (const auto& v : values) {
    EXPECT_EQ(text(read_text_property(probe_, "Echo", v.cell)), v.as_text);
  }
  EXPECT_EQ(read_number_property(probe_, "Echo", "  2.25 "), 2.25);
}

TEST_F(Bridge, CreateObjectKeepsTheOldObjectOnFailure) {
  automation::IUnknown* before = probe_.get();
  for (const char* id : {"No.Such.Class", "", "{11111111-2222-3333-0102-03040506070}",
                         "{zzzzzzzz-2222-3333-0102-030405060708}"}) {
    EXPECT_FALSE(create_object(probe_, id)) << id;
    EXPECT_EQ(probe_.get(), before);
  }
  EXPECT_TRUE(create_object(probe_, "{11111111-2222-3333-0102-030405060708}"));
  EXPECT_NE(probe_.get(), before);
  EXPECT_TRUE(create_object(probe_, "vbscript.regexp", "ignored.tlb"));
}

TEST_F(Bridge, CreateObjectRetriesAnInvalidArgumentOnce) {
  const int alive = probe::g_probes_alive;
  probe::g_refusal = automation::E_INVALIDARG;
  probe::g_refusals_left = 1;
  probe::g_fussy_made = 0;
  Object object;
  EXPECT_TRUE(create_object(object, "FilmFinder.Fussy"));
  EXPECT_EQ(probe::g_fussy_made, 2) << "refused, then made";
  EXPECT_EQ(probe::g_refusers_alive, 0);
  EXPECT_EQ(text(call_text_method(object, "Join", "a")), "a|-|-");
  ASSERT_EQ(probe::g_probes_alive.load(), alive + 1);
  Probe* made = Probe::of(object.get());
  const int references = made->references();

  // Refused again on the second try: no third one, and the holder keeps its object.
  probe::g_refusals_left = 2;
  probe::g_fussy_made = 0;
  EXPECT_FALSE(create_object(object, "FilmFinder.Fussy"));
  EXPECT_EQ(probe::g_fussy_made, 2);
  EXPECT_EQ(probe::g_refusers_alive, 0);
  EXPECT_EQ(object.get(), static_cast<automation::IUnknown*>(made));
  EXPECT_EQ(made->references(), references);
  EXPECT_EQ(probe::g_probes_alive.load(), alive + 1);

  // Any other refusal is not retried.
  probe::g_refusal = automation::E_NOINTERFACE;
  probe::g_refusals_left = 1;
  probe::g_fussy_made = 0;
  EXPECT_FALSE(create_object(object, "FilmFinder.Fussy"));
  EXPECT_EQ(probe::g_fussy_made, 1);
  EXPECT_EQ(probe::g_refusers_alive, 0);
  EXPECT_EQ(object.get(), static_cast<automation::IUnknown*>(made));
  probe::g_refusals_left = 0;
  probe::g_refusal = automation::E_INVALIDARG;
}

TEST_F(Bridge, CreateObjectNeedsAnInitialisedThread) {
  bool created = true;
  std::thread([&] {
    Object object;
    created = create_object(object, "VBScript.RegExp");
  }).join();
  EXPECT_FALSE(created);
}

TEST_F(Bridge, TheErrorCodeIsKeptPerThread) {
  call_method(probe_, "Gone");
  ASSERT_EQ(automation_error(), kMemberNotFound);

  // One thread succeeds, the other then fails, then the first succeeds again.
  std::latch succeeded(1), failed(1), succeeded_again(1);
  int32_t after_failure_elsewhere = 1, after_success_elsewhere = 1;
  std::thread good([&] {
    CoInitialize(nullptr);
    {
      Object object;
      EXPECT_TRUE(create_object(object, "FilmFinder.Probe"));
      EXPECT_EQ(text(call_text_method(object, "Join", "x")), "x|-|-");
      succeeded.count_down();
      failed.wait();
      after_failure_elsewhere = automation_error();
      call_text_method(object, "Join", "y");
      succeeded_again.count_down();
    }
    CoUninitialize();
  });
  std::thread bad([&] {
    CoInitialize(nullptr);
    {
      Object object;
      EXPECT_TRUE(create_object(object, "FilmFinder.Probe"));
      succeeded.wait();
      call_method(object, "Raise", automation::DISP_E_PARAMNOTFOUND);
      failed.count_down();
      succeeded_again.wait();
      after_success_elsewhere = automation_error();
    }
    CoUninitialize();
  });
  good.join();
  bad.join();
  EXPECT_EQ(after_failure_elsewhere, kAutomationOk);
  EXPECT_EQ(after_success_elsewhere, kParamNotFound);
  EXPECT_EQ(automation_error(), kMemberNotFound) << "this thread's own code";
  call_text_method(probe_, "Join", "z");  // later tests on this thread start from success
  EXPECT_EQ(automation_error(), kAutomationOk);
}

TEST_F(Bridge, CopyAndClearObjects) {
  Object copy;
  EXPECT_TRUE(object_is_empty(copy));
  copy_object(copy, probe_);
  EXPECT_EQ(copy.get(), probe_.get());

  // Copying over a held object releases it: here its last other reference is ours.
  Object other;
  ASSERT_TRUE(create_object(other, "FilmFinder.Probe"));
  automation::IUnknown* old = other.get();
  old->AddRef();
  copy_object(other, probe_);
  EXPECT_EQ(old->Release(), 0u);

  clear_object(copy);
  EXPECT_TRUE(object_is_empty(copy));
  EXPECT_FALSE(object_is_empty(probe_));
}

TEST_F(Bridge, SetVariantStoresEachKind) {
  Variant v;
  ASSERT_TRUE(set_variant(v, "片名"));
  EXPECT_EQ(v.get()->vt, automation::VT_BSTR);
  EXPECT_EQ(text(variant_to_text(v)), "片名");

  const uint8_t raw[] = {1, 2, 3};
  ASSERT_TRUE(set_variant(v, rt::Bytes(raw)));
  ASSERT_EQ(v.get()->vt, automation::VT_ARRAY | automation::VT_UI1);
  EXPECT_EQ(std::memcmp(v.get()->parray->pvData, raw, 3), 0);
  EXPECT_TRUE(variant_to_text(v).empty()) << "a byte array has no text form";

  EXPECT_TRUE(set_variant_element(v, 9, 1));
  EXPECT_EQ(static_cast<uint8_t*>(v.get()->parray->pvData)[1], 9);
  EXPECT_FALSE(set_variant_element(v, 9, 3)) << "past the end";
  EXPECT_FALSE(set_variant_element(v, 300, 0)) << "not a byte";
  EXPECT_EQ(static_cast<uint8_t*>(v.get()->parray->pvData)[0], 1);

  // A one-dimensional array of texts.
  void* block = rt::make_pointer_array(2);
  const rt::Array texts = rt::Array::adopt(block, rt::kText);
  char* first = rt::make_text("甲");
  std::memcpy(texts.shape().elements, &first, sizeof first);
  ASSERT_TRUE(set_variant(v, rt::Cell::of_pointer(block, rt::kText | rt::kByRef)));
  ASSERT_EQ(v.get()->vt, automation::VT_ARRAY | automation::VT_BSTR);
  EXPECT_EQ(v.get()->parray->rgsabound[0].cElements, 2u);

  EXPECT_FALSE(set_variant(v, rt::Cell{})) << "nothing to store";
  EXPECT_EQ(v.get()->vt, automation::VT_ARRAY | automation::VT_BSTR) << "unchanged";
}

TEST_F(Bridge, AssignAndClearVariants) {
  Variant source, destination;
  ASSERT_TRUE(set_variant(source, "源"));
  ASSERT_TRUE(set_variant(destination, "旧"));
  assign_variant(destination, source);  // the old string is released, not leaked
  clear_variant(source);
  EXPECT_EQ(text(variant_to_text(destination)), "源");
  EXPECT_TRUE(variant_to_text(source).empty());
  const VARIANT zero{};
  EXPECT_EQ(std::memcmp(source.get(), &zero, sizeof zero), 0);
}

}  // namespace
