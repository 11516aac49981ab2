// Type changes of the automation stand-in's variants, which every argument and result of the
// bridge goes through.
#include <gtest/gtest.h>

#include <string>

#include "platform/automation/automation.h"

namespace {

using namespace automation;

struct Owned {
  VARIANT v;
  Owned() { VariantInit(&v); }
  ~Owned() { VariantClear(&v); }
};

VARIANT number(double d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}

TEST(VariantChangeType, Table) {
  Owned texts[7], empty, null_value, flag;
  null_value.v.vt = VT_NULL;
  flag.v.vt = VT_BOOL;
  flag.v.boolVal = VARIANT_TRUE;
  size_t next_text = 0;
  auto with_text = [&](const char16_t* s) {
    VARIANT& v = texts[next_text++].v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
  };

  const struct {
    const char* what;
    VARIANT source;
    VARTYPE target;
    HRESULT hr;
    double expected;  // the numeric value of the result (bools as -1 / 0)
  } cases[] = {
      {"half to even, down", number(2.5), VT_I4, S_OK, 2},
      {"half to even, up", number(3.5), VT_I4, S_OK, 4},
      {"negative half", number(-2.5), VT_I2, S_OK, -2},
      {"int overflow", number(3e9), VT_I4, DISP_E_OVERFLOW, 0},
      {"byte overflow", number(256), VT_UI1, DISP_E_OVERFLOW, 0},
      {"byte underflow", number(-1), VT_UI1, DISP_E_OVERFLOW, 0},
      {"float overflow", number(1e300), VT_R4, DISP_E_OVERFLOW, 0},
      {"date out of range", number(3e6), VT_DATE, DISP_E_OVERFLOW, 0},
      {"text number", with_text(u" -1.5e2 "), VT_R8, S_OK, -150},
      {"text with plus", with_text(u"+5"), VT_I4, S_OK, 5},
      {"two signs", with_text(u"--5"), VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"no number", with_text(u"12abc"), VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"empty text", with_text(u""), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"text true", with_text(u"TRUE"), VT_BOOL, S_OK, -1},
      {"text never a date", with_text(u"2024/1/5"), VT_DATE, DISP_E_TYPEMISMATCH, 0},
      {"empty to number", empty.v, VT_R8, S_OK, 0},
      {"null to number", null_value.v, VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"bool to number", flag.v, VT_I2, S_OK, -1},
      {"number to bool", number(0.25), VT_BOOL, S_OK, -1},
  };
  for (const auto& c : cases) {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &c.source, 0, c.target), c.hr) << c.what;
    if (c.hr != S_OK) {
      EXPECT_EQ(out.vt, VT_EMPTY) << c.what << ": the destination stays as it was";
      continue;
    }
    EXPECT_EQ(out.vt, c.target) << c.what;
    VARIANT as_double;
    VariantInit(&as_double);
    ASSERT_EQ(VariantChangeType(&as_double, &out, 0, VT_R8), S_OK) << c.what;
    EXPECT_EQ(as_double.dblVal, c.expected) << c.what;
    VariantClear(&out);
  }
}

TEST(VariantChangeType, ToTextAndInPlace) {
  const struct {
    VARIANT source;
    const char16_t* expected;
  } cases[] = {
      {number(-0.0), u"0"},
      {number(1.0 / 3), u"0.333333333333333"},
      {number(123456789012.0), u"123456789012"},
      {number(2.5e-7), u"2.5E-07"},
  };
  for (const auto& c : cases) {
    VARIANT v = c.source;
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), c.expected);
    VariantClear(&v);
  }
  Owned null_value;
  null_value.v.vt = VT_NULL;
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &null_value.v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);

  // A by-reference source is read through its reference.
  BSTR referenced = SysAllocString(u"42");
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_BSTR;
  ref.byref = &referenced;
  ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 42);
  SysFreeString(referenced);
}

TEST(Strings, LengthsAndResizing) {
  BSTR s = SysAllocString(u"中文abc");
  EXPECT_EQ(SysStringLen(s), 5u);
  ASSERT_TRUE(SysReAllocStringLen(&s, s, 2));  // shorter, in place
  EXPECT_EQ(std::u16string(s), u"中文");
  ASSERT_TRUE(SysReAllocStringLen(&s, s, 4));  // longer: the new units are zero
  EXPECT_EQ(SysStringLen(s), 4u);
  EXPECT_EQ(s[2], 0);
  EXPECT_EQ(s[4], 0);
  SysFreeString(s);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocStringLen(u"x", 0xFFFFFFFFu), nullptr);
}

TEST(SafeArrays, ElementsAreCopiedAndBounded) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 1, 2);
  ASSERT_NE(a, nullptr);
  BSTR s = SysAllocString(u"片");
  for (int32_t index : {0, 3}) EXPECT_EQ(SafeArrayPutElement(a, &index, &s), DISP_E_BADINDEX);
  const int32_t first = 1;
  EXPECT_EQ(SafeArrayPutElement(a, &first, &s), S_OK);
  SysFreeString(s);  // the array holds its own copy
  BSTR back = nullptr;
  EXPECT_EQ(SafeArrayGetElement(a, &first, &back), S_OK);
  EXPECT_EQ(std::u16string(back), u"片");
  SysFreeString(back);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
  EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
  SafeArrayUnaccessData(a);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
  int32_t upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(copy, 1, &upper), S_OK);
  EXPECT_EQ(upper, 2);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayCreateVector(VT_VOID, 0, 1), nullptr);
}

}  // namespace
