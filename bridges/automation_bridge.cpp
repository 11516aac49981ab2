#include "bridges/automation_bridge.h"

#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>

#include "decoders/picture.h"
#include "platform/automation/object_model.h"
#include "runtime/dll_commands.h"
#include "runtime/heap.h"
#include "runtime/imports.h"

namespace bridges {

using namespace automation;

namespace {

thread_local int32_t t_error = kAutomationOk;

constexpr uint32_t kLocalCodePage = 0;  // code page 936

using MultiByteToWideCharFn = int(uint32_t, uint32_t, const char*, int, char16_t*, int);
using WideCharToMultiByteFn = int(uint32_t, uint32_t, const char16_t*, int, char*, int, const char*,
                                  int*);

enum class CallKind { kRead, kWrite, kMethod };

// --- Reading value cells ---

template <typename T>
T load(const void* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

template <typename T>
void store(void* p, T value) {
  std::memcpy(p, &value, sizeof value);
}

// The holder a cell names: its payload, or (bit 29) the holder in the variable it points to.
ObjectHolder* holder_of(const rt::Cell& c) {
  if (rt::plain_code(c.type) != kObjectValue)
    return nullptr;
  if (!rt::is_by_ref(c.type))
    return c.pointer<ObjectHolder>();
  auto* variable = c.pointer<ObjectHolder*>();
  return variable ? *variable : nullptr;
}

VARIANT* variant_of(const rt::Cell& c) {
  if (rt::plain_code(c.type) != kVariantValue)
    return nullptr;
  if (!rt::is_by_ref(c.type))
    return c.pointer<VARIANT>();
  auto* variable = c.pointer<VARIANT*>();
  return variable ? *variable : nullptr;
}

bool is_missing(const VARIANT& v) {
  return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

void set_missing(VARIANT& v) {
  VariantInit(&v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
}

// A value of a basic kind read from `p` (a cell's payload or a variable) into a variant.
bool basic_to_variant(rt::TypeCode code, const void* p, VARIANT& out) {
  const std::optional<rt::BasicKind> kind = rt::basic_kind(code);
  if (!kind)
    return false;
  switch (*kind) {
    case rt::BasicKind::Byte:
      out.vt = VT_UI1;
      out.bVal = load<uint8_t>(p);
      return true;
    case rt::BasicKind::Short:
      out.vt = VT_I2;
      out.iVal = load<int16_t>(p);
      return true;
    case rt::BasicKind::Int:
      out.vt = VT_I4;
      out.lVal = load<int32_t>(p);
      return true;
    case rt::BasicKind::Int64:
      out.vt = VT_I4;  // the low 32 bits
      out.lVal = static_cast<int32_t>(load<int64_t>(p));
      return true;
    case rt::BasicKind::Float:
      out.vt = VT_R4;
      out.fltVal = load<float>(p);
      return true;
    case rt::BasicKind::Double:
      out.vt = VT_R8;
      out.dblVal = load<double>(p);
      return true;
    case rt::BasicKind::Bool:
      out.vt = VT_BOOL;
      out.boolVal = load<int32_t>(p) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case rt::BasicKind::DateTime:
      out.vt = VT_DATE;
      out.date = load<double>(p);
      return true;
    case rt::BasicKind::Text: {
      const char* text = load<const char*>(p);
      BSTR s = text_to_string(rt::text_view(text));
      if (!s)
        return false;
      out.vt = VT_BSTR;
      out.bstrVal = s;
      return true;
    }
    case rt::BasicKind::Bytes:
    case rt::BasicKind::Subroutine:
    case rt::BasicKind::EightByte:
      return false;
  }
  return false;
}

// One argument cell as a variant, by the kinds table; false for a kind without a variant form.
// An omitted argument becomes the missing-argument marker.
bool cell_to_variant(const rt::Cell& c, VARIANT& out) {
  VariantInit(&out);
  if (!c.given()) {
    set_missing(out);
    return true;
  }
  const rt::TypeCode code = rt::plain_code(c.type);
  if (code == kObjectValue) {
    const ObjectHolder* h = holder_of(c);
    out.vt = VT_UNKNOWN;
    out.punkVal = h ? h->object : nullptr;
    if (out.punkVal)
      out.punkVal->AddRef();
    return true;
  }
  if (code == kVariantValue) {
    const VARIANT* v = variant_of(c);
    return !v || SUCCEEDED(VariantCopyInd(&out, v));
  }
  if (rt::is_by_ref(c.type)) {
    const void* variable = c.pointer<const void>();
    return variable && basic_to_variant(code, variable, out);
  }
  const uint64_t payload = c.payload();
  return basic_to_variant(code, &payload, out);
}

// Writes a by-reference parameter's value back into the caller's variable (bit-29 cell).
void write_back(const rt::Cell& c, const VARIANT& value) {
  void* variable = c.pointer<void>();
  if (!variable)
    return;
  const rt::TypeCode code = rt::plain_code(c.type);
  VARIANT v;
  VariantInit(&v);
  auto as = [&](VARTYPE type) { return SUCCEEDED(VariantChangeType(&v, &value, 0, type)); };
  if (code == kObjectValue) {
    if (!as(VT_UNKNOWN))
      return;
    auto*& holder = *static_cast<ObjectHolder**>(variable);
    if (!holder)
      holder = new_object_holder();
    if (holder->object)
      holder->object->Release();
    holder->object = v.punkVal;  // the reference moves into the holder
    return;
  }
  if (code == kVariantValue) {
    auto*& block = *static_cast<VARIANT**>(variable);
    if (!block)
      block = new_variant_value();
    VariantCopyInd(block, &value);
    return;
  }
  const std::optional<rt::BasicKind> kind = rt::basic_kind(code);
  if (!kind)
    return;
  switch (*kind) {
    case rt::BasicKind::Byte:
      if (as(VT_UI1))
        store(variable, v.bVal);
      break;
    case rt::BasicKind::Short:
      if (as(VT_I2))
        store(variable, v.iVal);
      break;
    case rt::BasicKind::Int:
      if (as(VT_I4))
        store(variable, v.lVal);
      break;
    case rt::BasicKind::Int64:
      if (as(VT_I4))
        store(variable, int64_t{v.lVal});
      break;
    case rt::BasicKind::Float:
      if (as(VT_R4))
        store(variable, v.fltVal);
      break;
    case rt::BasicKind::Double:
      if (as(VT_R8))
        store(variable, v.dblVal);
      break;
    case rt::BasicKind::DateTime:
      if (as(VT_DATE))
        store(variable, v.date);
      break;
    case rt::BasicKind::Bool:
      if (as(VT_BOOL))
        store(variable, int32_t{v.boolVal != VARIANT_FALSE ? 1 : 0});
      break;
    case rt::BasicKind::Text:
      if (as(VT_BSTR)) {
        char* fresh = string_to_text(v.bstrVal, SysStringLen(v.bstrVal));
        rt::free_block(load<char*>(variable));
        store(variable, fresh);
      }
      break;
    case rt::BasicKind::Bytes:
    case rt::BasicKind::Subroutine:
    case rt::BasicKind::EightByte:
      break;
  }
  VariantClear(&v);
}

int32_t invoke_code(HRESULT hr) {
  if (hr == DISP_E_BADPARAMCOUNT)
    return kBadParamCount;
  if (hr == DISP_E_BADVARTYPE)
    return kBadVarType;
  if (hr == DISP_E_EXCEPTION)
    return kException;
  if (hr == DISP_E_MEMBERNOTFOUND)
    return kMemberNotFound;
  if (hr == DISP_E_NONAMEDARGS)
    return kNoNamedArgs;
  if (hr == DISP_E_OVERFLOW)
    return kOverflow;
  if (hr == DISP_E_PARAMNOTFOUND)
    return kParamNotFound;
  if (hr == DISP_E_TYPEMISMATCH)
    return kTypeMismatch;
  if (hr == DISP_E_PARAMNOTOPTIONAL)
    return kParamNotOptional;
  return kOtherInvokeFailure;
}

// The member name in UTF-16, on the stack unless it is long.
class WideName {
 public:
  explicit WideName(std::string_view s) {
    inline_[0] = 0;
    if (s.empty() || s.size() > INT_MAX)
      return;
    auto* convert = rt::dll_function<MultiByteToWideCharFn>(rt::kImportMultiByteToWideChar);
    const int length = static_cast<int>(s.size());
    char16_t* out = inline_.data();
    if (s.size() >= inline_.size()) {
      heap_ = std::make_unique<char16_t[]>(s.size() + 1);
      out = heap_.get();
    }
    const int units = convert(kLocalCodePage, 0, s.data(), length, out, length);
    out[units > 0 ? units : 0] = 0;
  }
  const char16_t* get() const { return heap_ ? heap_.get() : inline_.data(); }

 private:
  std::array<char16_t, 128> inline_;  // filled before use
  std::unique_ptr<char16_t[]> heap_;
};

// A member bound through the type information, holding its description until released.
struct Binding {
  Ref<ITypeInfo> owner;
  DESCKIND kind = DESCKIND_NONE;
  BINDPTR bound{};

  Binding() = default;
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;
  ~Binding() { reset(); }
  void reset() {
    if (kind == DESCKIND_FUNCDESC && owner)
      owner->ReleaseFuncDesc(bound.lpfuncdesc);
    if ((kind == DESCKIND_VARDESC || kind == DESCKIND_IMPLICITAPPOBJ) && owner) {
      owner->ReleaseVarDesc(bound.lpvardesc);
    }
    if (kind == DESCKIND_TYPECOMP && bound.lptcomp)
      bound.lptcomp->Release();
    kind = DESCKIND_NONE;
    bound.lpfuncdesc = nullptr;
    owner.reset();
  }
};

bool bind(ITypeComp* comp, const char16_t* name, uint32_t hash, CallKind kind, Binding& out) {
  static constexpr uint16_t kRead[] = {INVOKE_PROPERTYGET, INVOKE_FUNC};
  static constexpr uint16_t kWrite[] = {INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, INVOKE_FUNC};
  static constexpr uint16_t kMethod[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT,
                                         INVOKE_PROPERTYPUTREF};
  std::span<const uint16_t> order;
  switch (kind) {
    case CallKind::kRead:
      order = kRead;
      break;
    case CallKind::kWrite:
      order = kWrite;
      break;
    case CallKind::kMethod:
      order = kMethod;
      break;
  }
  for (uint16_t flags : order) {
    out.reset();
    const HRESULT hr = comp->Bind(name, hash, flags, out.owner.put(), &out.kind, &out.bound);
    if (SUCCEEDED(hr) && out.kind != DESCKIND_NONE)
      return true;
  }
  out.reset();
  return false;
}

// Two variants of room per argument: the converted value, and the entry Invoke receives (the
// value itself, or a reference to it for a by-reference parameter). A value may be lent: a
// shallow view of the caller's variant, which is never cleared here.
class ArgumentSpace {
 public:
  explicit ArgumentSpace(size_t n) {
    if (n > kInline) {
      heap_values_ = std::make_unique<VARIANT[]>(n);
      heap_entries_ = std::make_unique<VARIANT[]>(n);
      heap_lent_ = std::make_unique<bool[]>(n);
    }
  }
  ArgumentSpace(const ArgumentSpace&) = delete;
  ArgumentSpace& operator=(const ArgumentSpace&) = delete;
  ~ArgumentSpace() {
    for (size_t i = 0; i < converted_; ++i) {
      if (!lent()[i])
        VariantClear(&values()[i]);
    }
  }
  VARIANT* values() { return heap_values_ ? heap_values_.get() : values_.data(); }
  VARIANT* entries() { return heap_entries_ ? heap_entries_.get() : entries_.data(); }
  bool* lent() { return heap_lent_ ? heap_lent_.get() : lent_.data(); }
  // Values 0 .. count - 1 are set (owned or lent).
  void converted(size_t count, bool lent_last) {
    converted_ = count;
    lent()[count - 1] = lent_last;
  }

 private:
  static constexpr size_t kInline = 8;
  size_t converted_ = 0;
  std::array<VARIANT, kInline> values_;  // each set before use
  std::array<VARIANT, kInline> entries_;
  std::array<bool, kInline> lent_;
  std::unique_ptr<VARIANT[]> heap_values_;
  std::unique_ptr<VARIANT[]> heap_entries_;
  std::unique_ptr<bool[]> heap_lent_;
};

// A variant value passed by value to a parameter taken by value is lent, not copied: a page's
// subject is megabytes.
bool lend_variant(const rt::Cell& c, const ELEMDESC* declared, VARIANT& out) {
  if (rt::plain_code(c.type) != kVariantValue)
    return false;
  const VARIANT* v = variant_of(c);
  if (!v || (v->vt & VT_BYREF))
    return false;
  if (declared && declared->tdesc.vt == VT_PTR)
    return false;
  out = *v;
  return true;
}

// A variant that clears what it holds when it goes.
struct OwnedVariant {
  VARIANT value;
  OwnedVariant() { VariantInit(&value); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  ~OwnedVariant() { VariantClear(&value); }
};

// The member call: bind the name through type information, check and convert the arguments,
// invoke and write back by-reference arguments. On success `result` holds what the member gave;
// the caller converts it.
int32_t member_call(CallKind kind, const ObjectHolder* holder, std::string_view name,
                    MemberArgs args, VARIANT& result) {
  // 1. The name and the object.
  const WideName wide(name);
  if (!holder || !holder->object)
    return kEmptyObject;
  // 2. Its dispatch interface.
  Ref<IDispatch> dispatch = query<IDispatch>(holder->object, IID_IDispatch);
  if (!dispatch)
    return kNoDispatch;
  // 3. Its type information and type binding.
  const LCID lcid = GetUserDefaultLCID();
  Ref<ITypeComp> comp;
  {
    Ref<ITypeInfo> info;
    if (FAILED(dispatch->GetTypeInfo(0, lcid, info.put())) || !info)
      return kNoTypeInfo;
    if (FAILED(info->GetTypeComp(comp.put())) || !comp)
      return kNoTypeInfo;
  }
  // 4. Bind the name with the invoke kinds of this call, in order.
  Binding binding;
  const uint32_t hash = LHashValOfNameSys(SYS_WIN32, lcid, wide.get());
  if (!bind(comp.get(), wide.get(), hash, kind, binding))
    return kNotBound;
  comp.reset();

  // 5. Member id, invoke flags and declared parameters.
  MEMBERID member = 0;
  uint16_t flags = 0;
  size_t declared = 0;
  bool varargs = false;
  const ELEMDESC* params = nullptr;
  ELEMDESC variable_value{};
  switch (binding.kind) {
    case DESCKIND_FUNCDESC: {
      const FUNCDESC* f = binding.bound.lpfuncdesc;
      member = f->memid;
      flags = f->invkind;
      declared = f->cParams > 0 ? static_cast<size_t>(f->cParams) : 0;
      varargs = f->cParamsOpt == -1;
      params = f->lprgelemdescParam;
      break;
    }
    case DESCKIND_VARDESC:
    case DESCKIND_IMPLICITAPPOBJ: {
      const VARDESC* v = binding.bound.lpvardesc;
      member = v->memid;
      if (kind == CallKind::kWrite) {
        const VARTYPE type = v->elemdescVar.tdesc.vt;
        const bool reference = type == VT_UNKNOWN || type == VT_DISPATCH || (type & VT_ARRAY) != 0;
        flags = reference ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
        variable_value = v->elemdescVar;
        params = &variable_value;
        declared = 1;
      } else {
        flags = DISPATCH_PROPERTYGET;
      }
      break;
    }
    case DESCKIND_TYPECOMP:
    case DESCKIND_NONE:
      return kNotBound;
  }

  // 6. Trailing omitted arguments are dropped; then the count must fit the declaration.
  size_t given = args.size();
  while (given > 0 && !args[given - 1].given()) --given;
  if (given > declared && !varargs)
    return kTooManyArguments;

  // 7. The argument array, last argument first.
  ArgumentSpace space(given);
  VARIANT* values = space.values();
  VARIANT* entries = space.entries();
  std::array<bool, 8> out_inline{};
  std::unique_ptr<bool[]> out_heap =
      given > out_inline.size() ? std::make_unique<bool[]>(given) : nullptr;
  bool* writes_back = out_heap ? out_heap.get() : out_inline.data();
  for (size_t i = 0; i < given; ++i) {
    const bool lent = lend_variant(args[i], i < declared ? &params[i] : nullptr, values[i]);
    if (!lent && !cell_to_variant(args[i], values[i]))
      return kUnconvertibleArgument;
    space.converted(i + 1, lent);
    VARIANT& entry = entries[given - 1 - i];
    entry = values[i];  // a shallow view: only `values` own what they hold
    if (i >= declared || is_missing(values[i]))
      continue;
    const ELEMDESC& e = params[i];
    const bool by_ref = e.tdesc.vt == VT_PTR && e.tdesc.lptdesc;
    const VARTYPE type = by_ref ? e.tdesc.lptdesc->vt : e.tdesc.vt;
    if (type != VT_VARIANT && values[i].vt != type) {
      // A value that does not change is passed as it is; Invoke reports the mismatch. A lent
      // value changes into a value of our own.
      VARIANT changed;
      VariantInit(&changed);
      if (FAILED(VariantChangeType(&changed, &values[i], 0, type)))
        continue;
      if (!lent)
        VariantClear(&values[i]);
      values[i] = changed;
      space.converted(i + 1, false);
      entry = values[i];
    }
    if (by_ref) {
      entry.vt = static_cast<VARTYPE>(VT_BYREF | type);
      entry.byref =
          type == VT_VARIANT ? static_cast<void*>(&values[i]) : static_cast<void*>(&values[i].bVal);
      writes_back[i] = rt::is_by_ref(args[i].type) && (e.paramdesc.wParamFlags & PARAMFLAG_FOUT);
    }
  }

  // 8. A put passes its value as the one named argument.
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS dispatch_params{entries, nullptr, static_cast<uint32_t>(given), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    dispatch_params.rgdispidNamedArgs = &put_id;
    dispatch_params.cNamedArgs = given > 0 ? 1 : 0;
  }

  // 9. The call.
  uint32_t argument_error = 0;
  const HRESULT hr = dispatch->Invoke(member, IID_NULL, lcid, flags, &dispatch_params, &result,
                                      nullptr, &argument_error);
  if (FAILED(hr)) {
    VariantClear(&result);
    return invoke_code(hr);
  }
  // 10. By-reference arguments back into the caller's variables. The arguments clear with their
  // space, the interfaces with their owners.
  for (size_t i = 0; i < given && i < declared; ++i) {
    if (writes_back[i])
      write_back(args[i], values[i]);
  }
  return kAutomationOk;
}

// The member calls by the result they give: each leaves the thread's error code behind and gives
// the empty value of its kind on failure.
void call_for_nothing(CallKind kind, const ObjectHolder* object, std::string_view name,
                      MemberArgs args) {
  OwnedVariant result;
  t_error = member_call(kind, object, name, args, result.value);
}

rt::Text call_for_text(CallKind kind, const ObjectHolder* object, std::string_view name,
                       MemberArgs args) {
  OwnedVariant result, text;
  int32_t code = member_call(kind, object, name, args, result.value);
  if (code == kAutomationOk && FAILED(VariantChangeType(&text.value, &result.value, 0, VT_BSTR))) {
    code = kUnconvertibleResult;
  }
  t_error = code;
  if (code != kAutomationOk)
    return {};
  return rt::Text::adopt(string_to_text(text.value.bstrVal, SysStringLen(text.value.bstrVal)));
}

double call_for_number(CallKind kind, const ObjectHolder* object, std::string_view name,
                       MemberArgs args) {
  OwnedVariant result, number;
  int32_t code = member_call(kind, object, name, args, result.value);
  if (code == kAutomationOk && FAILED(VariantChangeType(&number.value, &result.value, 0, VT_R8))) {
    code = kUnconvertibleResult;
  }
  t_error = code;
  return code == kAutomationOk ? number.value.dblVal : 0;
}

Object call_for_object(CallKind kind, const ObjectHolder* object, std::string_view name,
                       MemberArgs args) {
  OwnedVariant result;
  VARIANT unknown;
  VariantInit(&unknown);
  int32_t code = member_call(kind, object, name, args, result.value);
  if (code == kAutomationOk && FAILED(VariantChangeType(&unknown, &result.value, 0, VT_UNKNOWN))) {
    code = kUnconvertibleResult;
  }
  t_error = code;
  if (code != kAutomationOk)
    return Object();
  ObjectHolder* holder = new_object_holder();
  holder->object = unknown.punkVal;  // the reference moves into the holder
  return Object::adopt(holder);
}

Variant call_for_variant(CallKind kind, const ObjectHolder* object, std::string_view name,
                         MemberArgs args) {
  OwnedVariant result;
  const int32_t code = member_call(kind, object, name, args, result.value);
  t_error = code;
  if (code != kAutomationOk)
    return Variant();
  VARIANT* block = new_variant_value();
  *block = result.value;  // the contents move into the block
  VariantInit(&result.value);
  return Variant::adopt(block);
}

// The arguments of a member command: the cells after the object and the name.
MemberArgs member_args(int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const int32_t extra = args.count() > 2 ? args.count() - 2 : 0;
  return extra > 0 ? MemberArgs(a + 2, static_cast<size_t>(extra)) : MemberArgs();
}

// --- set_variant ---

VARTYPE element_type(rt::TypeCode code) {
  if (code == kObjectValue)
    return VT_UNKNOWN;
  if (code == kVariantValue)
    return VT_VARIANT;
  const std::optional<rt::BasicKind> kind = rt::basic_kind(code);
  if (!kind)
    return VT_EMPTY;
  switch (*kind) {
    case rt::BasicKind::Byte:
      return VT_UI1;
    case rt::BasicKind::Short:
      return VT_I2;
    case rt::BasicKind::Int:
    case rt::BasicKind::Int64:
      return VT_I4;
    case rt::BasicKind::Float:
      return VT_R4;
    case rt::BasicKind::Double:
      return VT_R8;
    case rt::BasicKind::Bool:
      return VT_BOOL;
    case rt::BasicKind::DateTime:
      return VT_DATE;
    case rt::BasicKind::Text:
      return VT_BSTR;
    case rt::BasicKind::Bytes:
    case rt::BasicKind::Subroutine:
    case rt::BasicKind::EightByte:
      return VT_EMPTY;
  }
  return VT_EMPTY;
}

// A one-dimensional array block as a safe array of its element kind.
bool array_to_variant(const void* block, rt::TypeCode element, VARIANT& out) {
  const VARTYPE type = element_type(element);
  if (type == VT_EMPTY)
    return false;
  const rt::ArrayShape shape = rt::array_shape(block);
  if (block && shape.dimensions != 1)
    return false;
  const size_t width = element == kObjectValue || element == kVariantValue
                           ? sizeof(void*)
                           : rt::storage_width(element);
  if (shape.element_count > UINT32_MAX || width == 0)
    return false;
  SAFEARRAY* array = SafeArrayCreateVector(type, 0, static_cast<uint32_t>(shape.element_count));
  if (!array)
    return false;
  for (size_t i = 0; i < shape.element_count; ++i) {
    const rt::Cell cell = [&] {
      const uint8_t* at = shape.elements + i * width;
      if (element == kObjectValue || element == kVariantValue || element == rt::kText) {
        return rt::Cell::of_pointer(load<void*>(at), element);
      }
      rt::Cell c{0, 0, element};
      uint64_t payload = 0;
      std::memcpy(&payload, at, width);
      c.set_payload(payload);
      return c;
    }();
    VARIANT value;
    bool stored = cell_to_variant(cell, value);
    const auto index = static_cast<int32_t>(i);
    if (stored) {
      stored = SUCCEEDED(type == VT_VARIANT ? SafeArrayPutElement(array, &index, &value)
                                            : SafeArrayPutElement(array, &index, &value.bVal));
    }
    VariantClear(&value);
    if (!stored) {
      SafeArrayDestroy(array);
      return false;
    }
  }
  VariantInit(&out);
  out.vt = static_cast<VARTYPE>(VT_ARRAY | type);
  out.parray = array;
  return true;
}

bool bytes_to_variant(std::span<const uint8_t> bytes, VARIANT& out) {
  if (bytes.size() > UINT32_MAX)
    return false;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<uint32_t>(bytes.size()));
  if (!array)
    return false;
  if (!bytes.empty())
    std::memcpy(array->pvData, bytes.data(), bytes.size());
  VariantInit(&out);
  out.vt = static_cast<VARTYPE>(VT_ARRAY | VT_UI1);
  out.parray = array;
  return true;
}

// The value of set_variant as a variant: here bit 29 marks an array, not a variable.
bool value_to_variant(const rt::Cell& c, VARIANT& out) {
  if (!c.given())
    return false;
  const rt::TypeCode code = rt::plain_code(c.type);
  if (rt::is_by_ref(c.type))
    return array_to_variant(c.pointer<void>(), code, out);
  if (code == rt::kBytes)
    return bytes_to_variant(rt::bytes_view(c.pointer<void>()), out);
  return cell_to_variant(c, out);
}

}  // namespace

int32_t automation_error() {
  return t_error;
}

// --- Blocks ---

ObjectHolder* new_object_holder() {
  auto* h = static_cast<ObjectHolder*>(rt::allocate(sizeof(ObjectHolder)));
  h->object = nullptr;
  h->reserved = nullptr;
  return h;
}

void release_object_value(ObjectHolder* holder) {
  if (!holder)
    return;
  if (holder->object)
    holder->object->Release();
  rt::free_block(holder);
}

VARIANT* new_variant_value() {
  auto* v = static_cast<VARIANT*>(rt::allocate(sizeof(VARIANT)));
  VariantInit(v);
  return v;
}

void release_variant_value(VARIANT* variant) {
  if (!variant)
    return;
  VariantClear(variant);
  rt::free_block(variant);
}

// --- Text conversions ---

BSTR text_to_string(std::string_view text) {
  if (text.size() > INT_MAX)
    return nullptr;
  if (text.empty())
    return SysAllocStringLen(nullptr, 0);
  auto* convert = rt::dll_function<MultiByteToWideCharFn>(rt::kImportMultiByteToWideChar);
  const int length = static_cast<int>(text.size());
  // Code page 936 never needs more units than bytes; the exact size is asked only otherwise.
  BSTR s = SysAllocStringLen(nullptr, static_cast<uint32_t>(length));
  if (!s)
    return nullptr;
  int units = convert(kLocalCodePage, 0, text.data(), length, s, length);
  if (units <= 0) {
    const int needed = convert(kLocalCodePage, 0, text.data(), length, nullptr, 0);
    SysFreeString(s);
    if (needed <= 0)
      return nullptr;
    s = SysAllocStringLen(nullptr, static_cast<uint32_t>(needed));
    if (!s)
      return nullptr;
    units = convert(kLocalCodePage, 0, text.data(), length, s, needed);
    if (units <= 0) {
      SysFreeString(s);
      return nullptr;
    }
  }
  if (units < length && !SysReAllocStringLen(&s, s, static_cast<uint32_t>(units))) {
    SysFreeString(s);
    return nullptr;
  }
  return s;
}

size_t local_length(const char16_t* units, size_t count) {
  if (!units || count == 0 || count > INT_MAX)
    return 0;
  auto* convert = rt::dll_function<WideCharToMultiByteFn>(rt::kImportWideCharToMultiByte);
  const int bytes =
      convert(kLocalCodePage, 0, units, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  return bytes > 0 ? static_cast<size_t>(bytes) : 0;
}

char* string_to_text(const char16_t* units, size_t count) {
  const size_t bytes = local_length(units, count);
  if (bytes == 0)
    return nullptr;
  auto* convert = rt::dll_function<WideCharToMultiByteFn>(rt::kImportWideCharToMultiByte);
  auto* text = static_cast<char*>(rt::allocate(bytes + 1));
  const int written = convert(kLocalCodePage, 0, units, static_cast<int>(count), text,
                              static_cast<int>(bytes), nullptr, nullptr);
  if (written <= 0) {
    rt::free_block(text);
    return nullptr;
  }
  text[written] = 0;
  return text;
}

// --- Objects ---

bool create_object(ObjectHolder* holder, std::string_view id) {
  if (!holder)
    return false;
  BSTR wide = text_to_string(id);
  if (!wide)
    return false;
  CLSID clsid{};
  const HRESULT found =
      !id.empty() && id[0] == '{' ? CLSIDFromString(wide, &clsid) : CLSIDFromProgID(wide, &clsid);
  SysFreeString(wide);
  if (FAILED(found))
    return false;

  constexpr uint32_t kAnyServer =
      CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
  constexpr uint32_t kLocalServers =
      CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
  void* made = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, kAnyServer, IID_IUnknown, &made);
  if (hr == E_INVALIDARG)
    hr = CoCreateInstance(clsid, nullptr, kLocalServers, IID_IUnknown, &made);
  if (FAILED(hr) || !made)
    return false;
  Ref<IUnknown> object(static_cast<IUnknown*>(made));
  if (FAILED(OleRun(object.get())))
    return false;
  if (holder->object)
    holder->object->Release();
  holder->object = object.release();
  return true;
}

bool create_object(Object& object, const char* id, const char*) {
  return create_object(object.holder(), rt::text_view(id));
}

bool create_picture_object(ObjectHolder* holder, std::span<const uint8_t> picture) {
  if (!holder)
    return false;
  // Bytes that are no picture make no picture object: the holder keeps what it held.
  const std::optional<imaging::Picture> decoded = imaging::decode_picture(picture);
  if (!decoded)
    return false;
  const HBITMAP bitmap =
      CreateBitmap(decoded->width, decoded->height, 1, 32, decoded->pixels().data());
  if (bitmap == 0)
    return false;
  PICTDESC description{};
  description.cbSizeofstruct = sizeof description;
  description.picType = PICTYPE_BITMAP;
  description.bmp.hbitmap = bitmap;
  void* made = nullptr;
  if (FAILED(OleCreatePictureIndirect(&description, IID_IPictureDisp, 1, &made)) || !made) {
    DeleteObject(bitmap);  // not taken by a picture
    return false;
  }
  Ref<IDispatch> picture_object(static_cast<IDispatch*>(made));
  Ref<IUnknown> object = query<IUnknown>(picture_object.get(), IID_IUnknown);
  if (!object)
    return false;
  if (holder->object)
    holder->object->Release();
  holder->object = object.release();
  return true;
}

bool create_picture_object(Object& object, const rt::Bytes& picture) {
  return create_picture_object(object.holder(), picture.view());
}

void copy_object(ObjectHolder* destination, const ObjectHolder* source) {
  if (!destination)
    return;
  IUnknown* fresh = source ? source->object : nullptr;
  if (fresh)
    fresh->AddRef();
  IUnknown* old = std::exchange(destination->object, fresh);
  if (old)
    old->Release();
}

void copy_object(Object& destination, const Object& source) {
  copy_object(destination.holder(), source.holder());
}

void clear_object(ObjectHolder* holder) {
  if (!holder)
    return;
  if (IUnknown* old = std::exchange(holder->object, nullptr))
    old->Release();
}

void clear_object(Object& object) {
  clear_object(object.holder());
}

bool object_is_empty(const ObjectHolder* holder) {
  return !holder || !holder->object;
}

bool object_is_empty(const Object& object) {
  return object_is_empty(object.holder());
}

// --- Member calls ---

namespace member {

bool write(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  call_for_nothing(CallKind::kWrite, object, name, args);
  return t_error == kAutomationOk;
}
rt::Text read_text(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  return call_for_text(CallKind::kRead, object, name, args);
}
double read_number(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  return call_for_number(CallKind::kRead, object, name, args);
}
Object read_object(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  return call_for_object(CallKind::kRead, object, name, args);
}
Variant read_variant(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  return call_for_variant(CallKind::kRead, object, name, args);
}
void call(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  call_for_nothing(CallKind::kMethod, object, name, args);
}
rt::Text call_text(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  return call_for_text(CallKind::kMethod, object, name, args);
}
Object call_object(const ObjectHolder* object, std::string_view name, MemberArgs args) {
  return call_for_object(CallKind::kMethod, object, name, args);
}

}  // namespace member

// --- Variants ---

bool set_variant(VARIANT* variant, const rt::Cell& value, std::optional<int32_t> index) {
  if (!variant)
    return false;
  if (index && (variant->vt & VT_ARRAY) && !(variant->vt & VT_BYREF) && variant->parray) {
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(variant->parray, &type);
    VARIANT element;
    if (!cell_to_variant(value, element))
      return false;
    HRESULT hr = S_OK;
    if (type != VT_VARIANT)
      hr = VariantChangeType(&element, &element, 0, type);
    if (SUCCEEDED(hr)) {
      hr = type == VT_VARIANT ? SafeArrayPutElement(variant->parray, &*index, &element)
                              : SafeArrayPutElement(variant->parray, &*index, &element.bVal);
    }
    VariantClear(&element);
    return SUCCEEDED(hr);
  }
  VARIANT converted;
  VariantInit(&converted);
  if (!value_to_variant(value, converted))
    return false;
  VariantClear(variant);
  *variant = converted;
  return true;
}

void assign_variant(VARIANT* destination, const VARIANT* source) {
  if (!destination || destination == source)
    return;
  VariantClear(destination);
  if (source)
    VariantCopy(destination, source);
}

void assign_variant(Variant& destination, const Variant& source) {
  assign_variant(destination.get(), source.get());
}

void clear_variant(VARIANT* variant) {
  if (!variant)
    return;
  VariantClear(variant);
  std::memset(static_cast<void*>(variant), 0, sizeof *variant);
}

void clear_variant(Variant& variant) {
  clear_variant(variant.get());
}

rt::Text variant_to_text(const VARIANT* variant) {
  if (!variant)
    return {};
  VARIANT text;
  VariantInit(&text);
  if (FAILED(VariantChangeType(&text, variant, 0, VT_BSTR)))
    return {};
  rt::Text local = rt::Text::adopt(string_to_text(text.bstrVal, SysStringLen(text.bstrVal)));
  VariantClear(&text);
  return local;
}

rt::Text variant_to_text(const Variant& variant) {
  return variant_to_text(variant.get());
}

// --- Commands: the cells read, the typed functions above called, the result stored ---

namespace cmd {

void create_object(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bool(r, bridges::create_object(holder_of(args.at(0)), args.text_view(1)));
}

void create_picture_object(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bool(r, bridges::create_picture_object(holder_of(args.at(0)), args.bytes(1)));
}

void write_property(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bool(r, member::write(holder_of(args.at(0)), args.text_view(1), member_args(n, a)));
}

void read_text_property(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(
      r, member::read_text(holder_of(args.at(0)), args.text_view(1), member_args(n, a)).release());
}
void read_number_property(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_double(r,
                 member::read_number(holder_of(args.at(0)), args.text_view(1), member_args(n, a)));
}
void read_object_property(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  *r = rt::Cell::of_pointer(
      member::read_object(holder_of(args.at(0)), args.text_view(1), member_args(n, a)).release(),
      kObjectValue);
}
void read_variant_property(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  *r = rt::Cell::of_pointer(
      member::read_variant(holder_of(args.at(0)), args.text_view(1), member_args(n, a)).release(),
      kVariantValue);
}
void call_method(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  member::call(holder_of(args.at(0)), args.text_view(1), member_args(n, a));
  *r = rt::Cell{};
}
void call_text_method(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(
      r, member::call_text(holder_of(args.at(0)), args.text_view(1), member_args(n, a)).release());
}
void call_object_method(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  *r = rt::Cell::of_pointer(
      member::call_object(holder_of(args.at(0)), args.text_view(1), member_args(n, a)).release(),
      kObjectValue);
}

void copy_object(rt::Cell*, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  bridges::copy_object(holder_of(args.at(0)), holder_of(args.at(1)));
}

void clear_object(rt::Cell*, int32_t n, const rt::Cell* a) {
  bridges::clear_object(holder_of(rt::Args(n, a).at(0)));
}

void object_is_empty(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_bool(r, bridges::object_is_empty(holder_of(rt::Args(n, a).at(0))));
}

void set_variant(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::optional<int32_t> index =
      args.given(2) ? std::optional<int32_t>(args.at(2).as_int()) : std::nullopt;
  rt::set_bool(r, bridges::set_variant(variant_of(args.at(0)), args.at(1), index));
}

void assign_variant(rt::Cell*, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  bridges::assign_variant(variant_of(args.at(0)), variant_of(args.at(1)));
}

void clear_variant(rt::Cell*, int32_t n, const rt::Cell* a) {
  bridges::clear_variant(variant_of(rt::Args(n, a).at(0)));
}

void variant_to_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_text(r, bridges::variant_to_text(variant_of(rt::Args(n, a).at(0))).release());
}

}  // namespace cmd

}  // namespace bridges
