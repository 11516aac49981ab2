// Strings, variants, their type changes, and one-dimensional safe arrays.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "platform/automation/automation.h"

using namespace automation;

namespace {

// A string is a block {uint32 byte length, units, one zero unit}; the BSTR points at the units.
constexpr size_t kLengthPrefix = sizeof(uint32_t);
// The longest string we hand out: its byte length must fit the prefix.
constexpr uint32_t kMaxStringUnits = (std::numeric_limits<uint32_t>::max() - 8) / 2;

uint32_t* prefix_of(BSTR s) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(s) - kLengthPrefix);
}

VARTYPE base_type(VARTYPE vt) {
  return static_cast<VARTYPE>(vt & VT_TYPEMASK);
}
bool is_by_ref(VARTYPE vt) {
  return (vt & VT_BYREF) != 0;
}
bool is_array(VARTYPE vt) {
  return (vt & VT_ARRAY) != 0;
}

BSTR make_string(std::u16string_view s) {
  if (s.size() > kMaxStringUnits)
    return nullptr;
  return SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
}

std::u16string_view string_view_of(BSTR s) {
  return {s, SysStringLen(s)};
}

// --- Element sizes of safe arrays ---

uint32_t element_size(VARTYPE vt) {
  switch (vt) {
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

void clear_element(VARTYPE vt, void* slot) {
  switch (vt) {
    case VT_BSTR: {
      BSTR s;
      std::memcpy(&s, slot, sizeof s);
      SysFreeString(s);
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* u;
      std::memcpy(&u, slot, sizeof u);
      if (u)
        u->Release();
      break;
    }
    case VT_VARIANT:
      VariantClear(static_cast<VARIANT*>(slot));
      break;
    default:
      break;
  }
  std::memset(slot, 0, element_size(vt));
}

// Copies one element value into an empty slot.
HRESULT copy_element(VARTYPE vt, void* slot, const void* value) {
  switch (vt) {
    case VT_BSTR: {
      BSTR s;
      std::memcpy(&s, value, sizeof s);
      BSTR copy = nullptr;
      if (s) {
        copy = SysAllocStringLen(s, SysStringLen(s));
        if (!copy)
          return E_OUTOFMEMORY;
      }
      std::memcpy(slot, &copy, sizeof copy);
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* u;
      std::memcpy(&u, value, sizeof u);
      if (u)
        u->AddRef();
      std::memcpy(slot, &u, sizeof u);
      return S_OK;
    }
    case VT_VARIANT: {
      auto* v = static_cast<VARIANT*>(slot);
      VariantInit(v);
      return VariantCopy(v, static_cast<const VARIANT*>(value));
    }
    default:
      std::memcpy(slot, value, element_size(vt));
      return S_OK;
  }
}

bool element_index(const SAFEARRAY* a, const int32_t* indices, size_t& offset) {
  if (!a || !indices)
    return false;
  const int64_t i = int64_t{indices[0]} - a->rgsabound[0].lLbound;
  if (i < 0 || i >= int64_t{a->rgsabound[0].cElements})
    return false;
  offset = static_cast<size_t>(i) * a->cbElements;
  return true;
}

// --- Type changes ---

// A source value reduced to what the conversions need.
struct Scalar {
  enum Kind { kEmpty, kNull, kNumber, kBool, kDate, kString, kObject, kOther } kind = kOther;
  double number = 0;            // numbers, bools (-1/0) and dates
  bool integral = false;        // came from an integer type: format without a fraction
  VARTYPE number_type = VT_R8;  // the numeric source type, for formatting
  std::u16string_view text;
  IUnknown* object = nullptr;
};

const VARIANT* dereference(const VARIANT* v) {
  while (v && v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  return v;
}

template <typename T>
T load(const void* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

Scalar number_scalar(double d, bool integral, VARTYPE type) {
  Scalar s;
  s.kind = Scalar::kNumber;
  s.number = d;
  s.integral = integral;
  s.number_type = type;
  return s;
}

// Reads the value of a (possibly by-reference) variant of a scalar type.
bool read_scalar(const VARIANT& v, Scalar& out) {
  if (is_array(v.vt))
    return false;
  const bool ref = is_by_ref(v.vt);
  if (ref && !v.byref)
    return false;
  // Every member of the value union starts at the same address.
  const void* p = ref ? v.byref : static_cast<const void*>(&v.bVal);
  switch (base_type(v.vt)) {
    case VT_EMPTY:
      out.kind = Scalar::kEmpty;
      return true;
    case VT_NULL:
      out.kind = Scalar::kNull;
      return true;
    case VT_UI1:
      out = number_scalar(load<uint8_t>(p), true, VT_UI1);
      return true;
    case VT_I2:
      out = number_scalar(load<int16_t>(p), true, VT_I2);
      return true;
    case VT_I4:
      out = number_scalar(load<int32_t>(p), true, VT_I4);
      return true;
    case VT_R4:
      out = number_scalar(load<float>(p), false, VT_R4);
      return true;
    case VT_R8:
      out = number_scalar(load<double>(p), false, VT_R8);
      return true;
    case VT_DATE:
      out = number_scalar(load<double>(p), false, VT_DATE);
      out.kind = Scalar::kDate;
      return true;
    case VT_BOOL:
      out = number_scalar(load<VARIANT_BOOL>(p) ? -1.0 : 0.0, true, VT_BOOL);
      out.kind = Scalar::kBool;
      return true;
    case VT_BSTR:
      out.kind = Scalar::kString;
      out.text = string_view_of(load<BSTR>(p));
      return true;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      out.kind = Scalar::kObject;
      out.object = load<IUnknown*>(p);
      return true;
    default:
      out.kind = Scalar::kOther;
      return true;
  }
}

bool is_space(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool equals_ignoring_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z')
      x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z')
      y = static_cast<char16_t>(y + 32);
    if (x != y)
      return false;
  }
  return true;
}

// A decimal number in a string: optional sign, digits, fraction, exponent; spaces around.
bool parse_number(std::u16string_view s, double& out) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  if (s.empty() || s.size() > 64)
    return false;
  char ascii[65];
  size_t n = 0;
  for (char16_t c : s) {
    if (c > 0x7F)
      return false;
    ascii[n++] = static_cast<char>(c);
  }
  const char* first = ascii;
  const char* last = ascii + n;
  bool negative = false;
  if (*first == '+' || *first == '-') {
    negative = *first == '-';
    ++first;
  }
  if (first == last || *first == '+' || *first == '-')
    return false;
  double value = 0;
  const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || end != last || !std::isfinite(value))
    return false;
  out = negative ? -value : value;
  return true;
}

HRESULT to_number(const Scalar& s, double& out) {
  switch (s.kind) {
    case Scalar::kEmpty:
      out = 0;
      return S_OK;
    case Scalar::kNumber:
    case Scalar::kBool:
    case Scalar::kDate:
      out = s.number;
      return S_OK;
    case Scalar::kString:
      return parse_number(s.text, out) ? S_OK : DISP_E_TYPEMISMATCH;
    case Scalar::kNull:
    case Scalar::kObject:
    case Scalar::kOther:
      return DISP_E_TYPEMISMATCH;
  }
  return DISP_E_TYPEMISMATCH;
}

// Round half to even, then check the range of the integer type.
HRESULT to_integer(double d, double low, double high, int64_t& out) {
  if (!std::isfinite(d))
    return DISP_E_OVERFLOW;
  const double r = std::nearbyint(d);  // the default rounding mode: half to even
  if (r < low || r > high)
    return DISP_E_OVERFLOW;
  out = static_cast<int64_t>(r);
  return S_OK;
}

std::u16string widen(std::string_view s) {
  return {s.begin(), s.end()};
}

std::string format_number(double d, VARTYPE source) {
  char buffer[64];
  if (d == 0)
    return "0";  // also -0
  const int precision = source == VT_R4 ? 7 : 15;
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, precision);
  if (ec != std::errc())
    return "0";
  std::string s(buffer, end);
  for (char& c : s) {
    if (c == 'e')
      c = 'E';
  }
  return s;
}

// Days since 1899-12-30 to a civil date (proleptic Gregorian).
void civil_from_days(int64_t days_since_1899_12_30, int64_t& y, unsigned& m, unsigned& d) {
  const int64_t z = days_since_1899_12_30 - 25569 + 719468;  // to days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

// The short forms of the local (zh-CN) conventions: "2024/1/5 13:05:09"; the date alone at
// midnight, the time alone on day 0.
std::string format_date(double date) {
  int64_t day = static_cast<int64_t>(std::trunc(date));
  int64_t seconds = std::llround(std::fabs(date - static_cast<double>(day)) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += date < 0 ? -1 : 1;
  }
  std::string out;
  char buffer[64];
  if (day != 0 || seconds == 0) {
    int64_t y;
    unsigned m, d;
    civil_from_days(day, y, m, d);
    std::snprintf(buffer, sizeof buffer, "%lld/%u/%u", static_cast<long long>(y), m, d);
    out = buffer;
  }
  if (seconds != 0) {
    if (!out.empty())
      out += ' ';
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
    out += buffer;
  }
  return out;
}

HRESULT to_string(const Scalar& s, BSTR& out) {
  std::u16string text;
  switch (s.kind) {
    case Scalar::kEmpty:
      break;
    case Scalar::kString:
      text = s.text;
      break;
    case Scalar::kBool:
      text = s.number != 0 ? u"-1" : u"0";
      break;
    case Scalar::kNumber:
      text = s.integral ? widen(std::to_string(static_cast<int64_t>(s.number)))
                        : widen(format_number(s.number, s.number_type));
      break;
    case Scalar::kDate:
      text = widen(format_date(s.number));
      break;
    case Scalar::kNull:
    case Scalar::kObject:
    case Scalar::kOther:
      return DISP_E_TYPEMISMATCH;
  }
  out = make_string(text);
  return out ? S_OK : E_OUTOFMEMORY;
}

HRESULT to_bool(const Scalar& s, VARIANT_BOOL& out) {
  if (s.kind == Scalar::kString) {
    if (equals_ignoring_case(s.text, u"true")) {
      out = VARIANT_TRUE;
      return S_OK;
    }
    if (equals_ignoring_case(s.text, u"false")) {
      out = VARIANT_FALSE;
      return S_OK;
    }
  }
  double d = 0;
  const HRESULT hr = to_number(s, d);
  if (FAILED(hr))
    return hr;
  out = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT change_scalar(const Scalar& s, VARTYPE target, VARIANT& out) {
  VariantInit(&out);
  if (s.kind == Scalar::kOther)
    return DISP_E_TYPEMISMATCH;
  if (target == VT_EMPTY)
    return S_OK;
  if (target == VT_NULL) {
    if (s.kind != Scalar::kNull && s.kind != Scalar::kEmpty)
      return DISP_E_TYPEMISMATCH;
    out.vt = VT_NULL;
    return S_OK;
  }
  if (s.kind == Scalar::kNull)
    return DISP_E_TYPEMISMATCH;
  HRESULT hr = S_OK;
  double d = 0;
  int64_t i = 0;
  switch (target) {
    case VT_UI1:
    case VT_I2:
    case VT_I4: {
      if (FAILED(hr = to_number(s, d)))
        return hr;
      const double low = target == VT_UI1 ? 0 : target == VT_I2 ? -32768.0 : -2147483648.0;
      const double high = target == VT_UI1 ? 255 : target == VT_I2 ? 32767.0 : 2147483647.0;
      if (FAILED(hr = to_integer(d, low, high, i)))
        return hr;
      if (target == VT_UI1)
        out.bVal = static_cast<uint8_t>(i);
      if (target == VT_I2)
        out.iVal = static_cast<int16_t>(i);
      if (target == VT_I4)
        out.lVal = static_cast<int32_t>(i);
      break;
    }
    case VT_R4:
      if (FAILED(hr = to_number(s, d)))
        return hr;
      if (std::fabs(d) > std::numeric_limits<float>::max())
        return DISP_E_OVERFLOW;
      out.fltVal = static_cast<float>(d);
      break;
    case VT_R8:
      if (FAILED(hr = to_number(s, d)))
        return hr;
      out.dblVal = d;
      break;
    case VT_DATE:
      if (s.kind == Scalar::kString)
        return DISP_E_TYPEMISMATCH;
      if (FAILED(hr = to_number(s, d)))
        return hr;
      if (d < -657434.0 || d > 2958465.999999)
        return DISP_E_OVERFLOW;
      out.date = d;
      break;
    case VT_BOOL:
      if (FAILED(hr = to_bool(s, out.boolVal)))
        return hr;
      break;
    case VT_BSTR:
      if (FAILED(hr = to_string(s, out.bstrVal)))
        return hr;
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      if (s.kind != Scalar::kObject)
        return DISP_E_TYPEMISMATCH;
      void* p = nullptr;
      if (s.object) {
        const IID& iid = target == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
        if (FAILED(s.object->QueryInterface(iid, &p)))
          return DISP_E_TYPEMISMATCH;
      }
      out.punkVal = static_cast<IUnknown*>(p);
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  out.vt = target;
  return S_OK;
}

}  // namespace

// --- Strings ---

BSTR SysAllocString(const char16_t* text) {
  if (!text)
    return nullptr;
  return make_string(std::u16string_view(text));
}

BSTR SysAllocStringLen(const char16_t* text, uint32_t length) {
  if (length > kMaxStringUnits)
    return nullptr;
  const size_t bytes = size_t{length} * 2;
  auto* block = static_cast<char*>(std::malloc(kLengthPrefix + bytes + 2));
  if (!block)
    return nullptr;
  const auto byte_length = static_cast<uint32_t>(bytes);
  std::memcpy(block, &byte_length, sizeof byte_length);
  auto* units = reinterpret_cast<char16_t*>(block + kLengthPrefix);
  if (text)
    std::memcpy(units, text, bytes);
  units[length] = 0;
  return units;
}

int SysReAllocStringLen(BSTR* string, const char16_t* text, uint32_t length) {
  if (!string || length > kMaxStringUnits)
    return 0;
  if (*string && text == *string) {
    const uint32_t old_units = SysStringLen(*string);
    const auto byte_length = static_cast<uint32_t>(size_t{length} * 2);
    if (length <= old_units) {
      // Shorter: the block stays as it is (no copy, no new pages), only the length changes.
      std::memcpy(prefix_of(*string), &byte_length, sizeof byte_length);
      (*string)[length] = 0;
      return 1;
    }
    auto* block =
        static_cast<char*>(std::realloc(prefix_of(*string), kLengthPrefix + byte_length + 2));
    if (!block)
      return 0;
    std::memcpy(block, &byte_length, sizeof byte_length);
    auto* units = reinterpret_cast<char16_t*>(block + kLengthPrefix);
    std::memset(units + old_units, 0, (length - old_units) * size_t{2});
    units[length] = 0;
    *string = units;
    return 1;
  }
  BSTR fresh = SysAllocStringLen(text, length);
  if (!fresh)
    return 0;
  SysFreeString(*string);
  *string = fresh;
  return 1;
}

void SysFreeString(BSTR string) {
  if (string)
    std::free(prefix_of(string));
}

uint32_t SysStringLen(BSTR string) {
  return string ? *prefix_of(string) / 2 : 0;
}

// --- Variants ---

void VariantInit(VARIANT* v) {
  if (v)
    std::memset(v, 0, sizeof *v);
}

HRESULT VariantClear(VARIANT* v) {
  if (!v)
    return E_INVALIDARG;
  if (!is_by_ref(v->vt)) {
    if (is_array(v->vt)) {
      const HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr))
        return hr;
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) {
      v->punkVal->Release();
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
  if (!destination || !source)
    return E_INVALIDARG;
  if (destination == source)
    return S_OK;
  VARIANT copy = *source;
  if (!is_by_ref(source->vt)) {
    if (is_array(source->vt)) {
      copy.parray = nullptr;
      if (source->parray) {
        const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
        if (FAILED(hr))
          return hr;
      }
    } else if (source->vt == VT_BSTR && source->bstrVal) {
      copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
      if (!copy.bstrVal)
        return E_OUTOFMEMORY;
    } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) && source->punkVal) {
      source->punkVal->AddRef();
    }
  }
  VariantClear(destination);
  *destination = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* destination, const VARIANT* source) {
  if (!destination || !source)
    return E_INVALIDARG;
  source = dereference(source);
  if (!source)
    return E_INVALIDARG;
  if (!is_by_ref(source->vt))
    return VariantCopy(destination, source);
  if (!source->byref)
    return E_INVALIDARG;
  // Build a by-value variant that shares the referenced value, then deep-copy it.
  VARIANT value{};
  value.vt = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
  if (is_array(value.vt)) {
    value.parray = *static_cast<SAFEARRAY**>(source->byref);
  } else {
    const uint32_t size = element_size(value.vt);
    if (size == 0 || value.vt == VT_VARIANT)
      return DISP_E_BADVARTYPE;
    std::memcpy(&value.bVal, source->byref, size);
  }
  return VariantCopy(destination, &value);
}

HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, uint16_t /*flags*/,
                          VARTYPE target) {
  if (!destination || !source)
    return E_INVALIDARG;
  source = dereference(source);
  if (!source)
    return E_INVALIDARG;
  const VARTYPE plain = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
  if (plain == target || is_array(target) || is_array(plain)) {
    if (plain != target)
      return DISP_E_TYPEMISMATCH;
    VARIANT copy{};
    const HRESULT hr = VariantCopyInd(&copy, source);
    if (FAILED(hr))
      return hr;
    VariantClear(destination);
    *destination = copy;
    return S_OK;
  }
  if (target == VT_ERROR || plain == VT_ERROR)
    return DISP_E_TYPEMISMATCH;
  Scalar s;
  if (!read_scalar(*source, s))
    return DISP_E_TYPEMISMATCH;
  VARIANT changed;
  const HRESULT hr = change_scalar(s, target, changed);
  if (FAILED(hr))
    return hr;
  VariantClear(destination);
  *destination = changed;
  return S_OK;
}

// --- Safe arrays ---

SAFEARRAY* SafeArrayCreateVector(VARTYPE type, int32_t lower_bound, uint32_t count) {
  const uint32_t size = element_size(type);
  if (size == 0)
    return nullptr;
  if (count > std::numeric_limits<uint32_t>::max() / size)
    return nullptr;
  auto* a = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (!a)
    return nullptr;
  a->pvData = std::calloc(count == 0 ? 1 : count, size);
  if (!a->pvData) {
    std::free(a);
    return nullptr;
  }
  a->cDims = 1;
  a->cbElements = size;
  a->vt = type;
  a->rgsabound[0] = {count, lower_bound};
  return a;
}

HRESULT SafeArrayDestroy(SAFEARRAY* a) {
  if (!a)
    return S_OK;
  if (a->cLocks > 0)
    return DISP_E_ARRAYISLOCKED;
  auto* data = static_cast<uint8_t*>(a->pvData);
  for (uint32_t i = 0; i < a->rgsabound[0].cElements; ++i) {
    clear_element(a->vt, data + size_t{i} * a->cbElements);
  }
  std::free(a->pvData);
  std::free(a);
  return S_OK;
}

HRESULT SafeArrayCopy(const SAFEARRAY* a, SAFEARRAY** copy) {
  if (!a || !copy)
    return E_INVALIDARG;
  *copy = nullptr;
  SAFEARRAY* out = SafeArrayCreateVector(a->vt, a->rgsabound[0].lLbound, a->rgsabound[0].cElements);
  if (!out)
    return E_OUTOFMEMORY;
  const auto* from = static_cast<const uint8_t*>(a->pvData);
  auto* to = static_cast<uint8_t*>(out->pvData);
  for (uint32_t i = 0; i < a->rgsabound[0].cElements; ++i) {
    const size_t offset = size_t{i} * a->cbElements;
    const HRESULT hr = copy_element(a->vt, to + offset, from + offset);
    if (FAILED(hr)) {
      SafeArrayDestroy(out);
      return hr;
    }
  }
  *copy = out;
  return S_OK;
}

HRESULT SafeArrayGetVartype(const SAFEARRAY* a, VARTYPE* type) {
  if (!a || !type)
    return E_INVALIDARG;
  *type = a->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(const SAFEARRAY* a, uint32_t dimension, int32_t* bound) {
  if (!a || !bound)
    return E_INVALIDARG;
  if (dimension != 1)
    return DISP_E_BADINDEX;
  *bound = a->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(const SAFEARRAY* a, uint32_t dimension, int32_t* bound) {
  if (!a || !bound)
    return E_INVALIDARG;
  if (dimension != 1)
    return DISP_E_BADINDEX;
  *bound = static_cast<int32_t>(int64_t{a->rgsabound[0].lLbound} + a->rgsabound[0].cElements - 1);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* a, const int32_t* indices, const void* value) {
  if (!a || !value)
    return E_INVALIDARG;
  size_t offset = 0;
  if (!element_index(a, indices, offset))
    return DISP_E_BADINDEX;
  if (a->cLocks > 0)
    return DISP_E_ARRAYISLOCKED;
  alignas(VARIANT) uint8_t fresh[sizeof(VARIANT)]{};
  const HRESULT hr = copy_element(a->vt, fresh, value);
  if (FAILED(hr))
    return hr;
  void* slot = static_cast<uint8_t*>(a->pvData) + offset;
  clear_element(a->vt, slot);
  std::memcpy(slot, fresh, a->cbElements);
  return S_OK;
}

HRESULT SafeArrayGetElement(const SAFEARRAY* a, const int32_t* indices, void* value) {
  if (!a || !value)
    return E_INVALIDARG;
  size_t offset = 0;
  if (!element_index(a, indices, offset))
    return DISP_E_BADINDEX;
  return copy_element(a->vt, value, static_cast<const uint8_t*>(a->pvData) + offset);
}

HRESULT SafeArrayAccessData(SAFEARRAY* a, void** data) {
  if (!a || !data)
    return E_INVALIDARG;
  ++a->cLocks;
  *data = a->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* a) {
  if (!a || a->cLocks == 0)
    return E_INVALIDARG;
  --a->cLocks;
  return S_OK;
}
