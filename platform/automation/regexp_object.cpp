#include "platform/automation/regexp_object.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "platform/automation/object_model.h"
#include "platform/automation/regex_engine.h"

namespace automation {
namespace {

// One run of Execute: the match offsets and the parts of the subject they cover, shared by the
// collection and every match and sub-match collection taken from it. A page is megabytes and
// its matches usually a small part of it, so only the parts are kept, unless they overlap so
// much that the whole subject is smaller.
class Run {
 public:
  Run(std::u16string_view subject, regex::Matches matches) : matches_(std::move(matches)) {
    const size_t count = matches_.count();
    size_t total = 0;
    for (size_t m = 0; m < count && total < subject.size(); ++m) {
      const auto [low, high] = extent(m);
      total += high - low;
    }
    if (total >= subject.size()) {
      text_ = subject;
      return;
    }
    text_.reserve(total);
    origins_.reserve(count);
    places_.reserve(count);
    for (size_t m = 0; m < count; ++m) {
      const auto [low, high] = extent(m);
      origins_.push_back(low);
      places_.push_back(static_cast<uint32_t>(text_.size()));
      text_.append(subject.substr(low, high - low));
    }
  }

  const regex::Matches& matches() const { return matches_; }

  // The subject's units from `start` to `end`, both offsets taken in match `m`.
  std::u16string_view slice(size_t m, uint32_t start, uint32_t end) const {
    if (end < start)
      return {};
    const uint32_t origin = origins_.empty() ? 0 : origins_[m];
    const uint32_t place = places_.empty() ? 0 : places_[m];
    return std::u16string_view(text_).substr(place + (start - origin), end - start);
  }

 private:
  // The part of the subject that match m and all its groups cover.
  std::pair<uint32_t, uint32_t> extent(size_t m) const {
    uint32_t low = matches_.start(m, 0);
    uint32_t high = matches_.end(m, 0);
    for (uint32_t g = 1; g <= matches_.groups; ++g) {
      const uint32_t s = matches_.start(m, g);
      const uint32_t e = matches_.end(m, g);
      if (s == regex::kUnset || e < s)
        continue;
      low = std::min(low, s);
      high = std::max(high, e);
    }
    return {low, high};
  }

  regex::Matches matches_;
  std::u16string text_;
  std::vector<uint32_t> origins_;  // per match: where its part starts in the subject
  std::vector<uint32_t> places_;   // per match: where its part starts in text_
};
using RunPtr = std::shared_ptr<const Run>;

constexpr ParamSpec kIndex{VT_I4, PARAMFLAG_FIN, false};
constexpr ParamSpec kText{VT_BSTR, PARAMFLAG_FIN, false};
constexpr ParamSpec kBool{VT_BOOL, PARAMFLAG_FIN, false};
constexpr ParamSpec kAny{VT_VARIANT, PARAMFLAG_FIN, false};

// Type information lives for the whole process, shared by every instance.
TypeInfo* shared_type(std::initializer_list<MemberSpec> members) {
  return TypeInfo::create(std::span<const MemberSpec>(members.begin(), members.size()));
}

std::u16string_view text_of(const VARIANT& v) {
  return v.vt == VT_BSTR && v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal))
                                      : std::u16string_view();
}

HRESULT set_string(VARIANT* result, std::u16string_view s) {
  if (!result)
    return S_OK;
  BSTR b = SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
  if (!b && !s.empty())
    return E_OUTOFMEMORY;
  result->vt = VT_BSTR;
  result->bstrVal = b;
  return S_OK;
}

void set_int(VARIANT* result, uint32_t v) {
  if (!result)
    return;
  result->vt = VT_I4;
  result->lVal = static_cast<int32_t>(v);
}

void set_bool(VARIANT* result, bool v) {
  if (!result)
    return;
  result->vt = VT_BOOL;
  result->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}

// Hands a new object (one reference) to the result, or drops it.
HRESULT set_object(VARIANT* result, IDispatch* object) {
  if (!object)
    return E_OUTOFMEMORY;
  if (!result) {
    object->Release();
    return S_OK;
  }
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
  return S_OK;
}

bool in_range(int32_t index, size_t count) {
  return index >= 0 && static_cast<size_t>(index) < count;
}

// --- SubMatches ---

class SubMatches final : public DispatchObject {
 public:
  SubMatches(RunPtr run, size_t match)
      : DispatchObject(type()), run_(std::move(run)), match_(match) {}

 private:
  enum : MEMBERID { kItem = 0, kCount = 1 };

  static TypeInfo* type() {
    static TypeInfo* t = shared_type({
        {u"Item", kItem, INVOKE_PROPERTYGET, VT_VARIANT, {kIndex}},
        {u"Count", kCount, INVOKE_PROPERTYGET, VT_I4, {}},
    });
    return t;
  }

  HRESULT call(MEMBERID id, INVOKEKIND, std::span<VARIANT> args, VARIANT* result) override {
    const regex::Matches& m = run_->matches();
    switch (id) {
      case kCount:
        set_int(result, m.groups);
        return S_OK;
      case kItem: {
        if (!in_range(args[0].lVal, m.groups))
          return kErrorInvalidArgument;
        const auto group = static_cast<uint32_t>(args[0].lVal) + 1;
        const uint32_t start = m.start(match_, group);
        if (start == regex::kUnset)
          return S_OK;  // took no part: the empty variant
        return set_string(result, run_->slice(match_, start, m.end(match_, group)));
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  RunPtr run_;
  size_t match_;
};

// --- Match ---

class Match final : public DispatchObject {
 public:
  Match(RunPtr run, size_t match) : DispatchObject(type()), run_(std::move(run)), match_(match) {}

 private:
  enum : MEMBERID { kValue = 0, kFirstIndex = 1, kLength = 2, kSubMatches = 3 };

  static TypeInfo* type() {
    static TypeInfo* t = shared_type({
        {u"Value", kValue, INVOKE_PROPERTYGET, VT_BSTR, {}},
        {u"FirstIndex", kFirstIndex, INVOKE_PROPERTYGET, VT_I4, {}},
        {u"Length", kLength, INVOKE_PROPERTYGET, VT_I4, {}},
        {u"SubMatches", kSubMatches, INVOKE_PROPERTYGET, VT_DISPATCH, {}},
    });
    return t;
  }

  HRESULT call(MEMBERID id, INVOKEKIND, std::span<VARIANT>, VARIANT* result) override {
    const uint32_t start = run_->matches().start(match_, 0);
    const uint32_t end = run_->matches().end(match_, 0);
    const uint32_t length = end - start;
    switch (id) {
      case kValue:
        return set_string(result, run_->slice(match_, start, end));
      case kFirstIndex:
        set_int(result, start);
        return S_OK;
      case kLength:
        set_int(result, length);
        return S_OK;
      case kSubMatches:
        return set_object(result, new (std::nothrow) SubMatches(run_, match_));
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  RunPtr run_;
  size_t match_;
};

// --- MatchCollection ---

class MatchCollection final : public DispatchObject {
 public:
  explicit MatchCollection(RunPtr run) : DispatchObject(type()), run_(std::move(run)) {}

 private:
  enum : MEMBERID { kItem = 0, kCount = 1 };

  static TypeInfo* type() {
    static TypeInfo* t = shared_type({
        {u"Item", kItem, INVOKE_PROPERTYGET, VT_DISPATCH, {kIndex}},
        {u"Count", kCount, INVOKE_PROPERTYGET, VT_I4, {}},
    });
    return t;
  }

  HRESULT call(MEMBERID id, INVOKEKIND, std::span<VARIANT> args, VARIANT* result) override {
    const size_t count = run_->matches().count();
    switch (id) {
      case kCount:
        set_int(result, static_cast<uint32_t>(count));
        return S_OK;
      case kItem:
        if (!in_range(args[0].lVal, count))
          return kErrorInvalidArgument;
        return set_object(result,
                          new (std::nothrow) Match(run_, static_cast<size_t>(args[0].lVal)));
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  RunPtr run_;
};

// --- RegExp ---

class RegExp final : public DispatchObject {
 public:
  RegExp() : DispatchObject(type()) {}

 private:
  enum : MEMBERID {
    kPattern = 1,
    kIgnoreCase = 2,
    kGlobal = 3,
    kMultiline = 4,
    kExecute = 5,
    kReplace = 6,
    kTest = 7,
  };

  static TypeInfo* type() {
    static TypeInfo* t = shared_type({
        {u"Pattern", kPattern, INVOKE_PROPERTYGET, VT_BSTR, {}},
        {u"Pattern", kPattern, INVOKE_PROPERTYPUT, VT_VOID, {kText}},
        {u"IgnoreCase", kIgnoreCase, INVOKE_PROPERTYGET, VT_BOOL, {}},
        {u"IgnoreCase", kIgnoreCase, INVOKE_PROPERTYPUT, VT_VOID, {kBool}},
        {u"Global", kGlobal, INVOKE_PROPERTYGET, VT_BOOL, {}},
        {u"Global", kGlobal, INVOKE_PROPERTYPUT, VT_VOID, {kBool}},
        {u"Multiline", kMultiline, INVOKE_PROPERTYGET, VT_BOOL, {}},
        {u"Multiline", kMultiline, INVOKE_PROPERTYPUT, VT_VOID, {kBool}},
        {u"Execute", kExecute, INVOKE_FUNC, VT_DISPATCH, {kText}},
        {u"Replace", kReplace, INVOKE_FUNC, VT_BSTR, {kText, kAny}},
        {u"Test", kTest, INVOKE_FUNC, VT_BOOL, {kText}},
    });
    return t;
  }

  HRESULT call(MEMBERID id, INVOKEKIND kind, std::span<VARIANT> args, VARIANT* result) override {
    const bool put = kind == INVOKE_PROPERTYPUT;
    switch (id) {
      case kPattern:
        if (!put)
          return set_string(result, pattern_);
        pattern_ = text_of(args[0]);
        compiled_.reset();
        return S_OK;
      case kIgnoreCase:
        return flag(ignore_case_, put, args, result);
      case kMultiline:
        return flag(multiline_, put, args, result);
      case kGlobal:
        if (put)
          global_ = args[0].boolVal != VARIANT_FALSE;
        else
          set_bool(result, global_);
        return S_OK;
      case kExecute:
        return execute(text_of(args[0]), result);
      case kReplace:
        return replace(text_of(args[0]), args[1], result);
      case kTest: {
        const regex::Pattern* p = nullptr;
        if (const HRESULT hr = compiled(p); FAILED(hr))
          return hr;
        bool found = false;
        if (const HRESULT hr = regex::test_match(*p, text_of(args[0]), found); FAILED(hr)) {
          return hr;
        }
        set_bool(result, found);
        return S_OK;
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  // IgnoreCase and Multiline change the compiled pattern.
  HRESULT flag(bool& value, bool put, std::span<VARIANT> args, VARIANT* result) {
    if (!put) {
      set_bool(result, value);
      return S_OK;
    }
    const bool fresh = args[0].boolVal != VARIANT_FALSE;
    if (fresh != value)
      compiled_.reset();
    value = fresh;
    return S_OK;
  }

  HRESULT compiled(const regex::Pattern*& out) {
    if (!compiled_) {
      HRESULT hr = S_OK;
      compiled_ = regex::Pattern::compile(pattern_, {ignore_case_, multiline_}, &hr);
      if (!compiled_)
        return hr;
    }
    out = compiled_.get();
    return S_OK;
  }

  HRESULT execute(std::u16string_view subject, VARIANT* result) {
    const regex::Pattern* p = nullptr;
    if (const HRESULT hr = compiled(p); FAILED(hr))
      return hr;
    regex::Matches matches;
    if (const HRESULT hr = regex::find_matches(*p, subject, global_, matches); FAILED(hr)) {
      return hr;
    }
    return set_object(result, new (std::nothrow) MatchCollection(
                                  std::make_shared<const Run>(subject, std::move(matches))));
  }

  HRESULT replace(std::u16string_view subject, const VARIANT& replacement, VARIANT* result) {
    VARIANT text;
    VariantInit(&text);
    if (const HRESULT hr = VariantChangeType(&text, &replacement, 0, VT_BSTR); FAILED(hr)) {
      return hr;
    }
    const regex::Pattern* p = nullptr;
    HRESULT hr = compiled(p);
    std::u16string out;
    if (SUCCEEDED(hr))
      hr = regex::replace_matches(*p, subject, text_of(text), global_, out);
    VariantClear(&text);
    if (FAILED(hr))
      return hr;
    return set_string(result, out);
  }

  std::u16string pattern_;
  bool ignore_case_ = false;
  bool global_ = false;
  bool multiline_ = false;
  std::shared_ptr<const regex::Pattern> compiled_;
};

}  // namespace

IUnknown* create_regexp() {
  try {
    return static_cast<IDispatch*>(new RegExp);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace automation
