// Automation classes for exercising the bridge: a probe with functions of every parameter shape
// and two data members, an object without a dispatch interface, one without type information,
// and a class whose factory can be told to refuse. Registered once per process under
// "FilmFinder.*" program ids.
#pragma once

#include <atomic>
#include <string>

#include "platform/automation/object_model.h"

namespace probe {

using namespace automation;

inline constexpr CLSID kProbeClass{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
inline constexpr CLSID kPlainClass{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
inline constexpr CLSID kBlindClass{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 10}};
inline constexpr CLSID kFussyClass{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 11}};

// Currency: a parameter type this runtime has no conversion to.
inline constexpr VARTYPE kCurrency = 6;

enum : MEMBERID {
  kJoin = 1,     // Join(a, [b], [c]) -> "a|b|c", "-" for a missing one
  kTwice = 2,    // Twice(ByRef n As Long): n = 2 * n
  kRename = 3,   // Rename(ByRef s As String): s = s & "!"
  kSum = 4,      // Sum(first As Long, ...) -> the sum of all, as double
  kTag = 5,      // Tag As String (a variable)
  kChild = 6,    // Child As Object (a variable)
  kFail = 7,     // Fail(): raises an error
  kNothing = 8,  // Nothing(): returns nothing
  kKind = 9,     // Kind(v As Variant) -> the variant type it received
  kEcho = 10,    // Echo(v As Variant) -> v
  kGone = 11,    // Gone(): declared, but the object does not implement it
  kPrice = 12,   // Price(amount As Currency)
  kRaise = 13,   // Raise(code As Long): fails with that code
  kSwap = 14,    // Swap(ByRef o As Object): o = Child
  kTrade = 15,   // Trade(ByRef v As Variant): v = Child
};

// The invoke flags of the last call a probe received on this thread.
inline thread_local uint16_t g_last_flags = 0;

// Probes alive in the process.
inline std::atomic<int> g_probes_alive{0};

class Probe final : public DispatchObject {
 public:
  Probe() : DispatchObject(type()) { ++g_probes_alive; }

  // Every reference taken and given back is counted; a probe starts with one.
  ULONG AddRef() override {
    ++added_;
    return DispatchObject::AddRef();
  }
  ULONG Release() override {
    ++released_;
    return DispatchObject::Release();
  }
  // Counted without locks: a probe is used on one thread.
  int references() const { return 1 + added_ - released_; }

  // The probe behind an object the bridge holds.
  static Probe* of(IUnknown* object) {
    return static_cast<Probe*>(static_cast<IDispatch*>(object));
  }

 private:
  static TypeInfo* type() {
    static TypeInfo* t = [] {
      const ParamSpec text{VT_BSTR, PARAMFLAG_FIN, false};
      const ParamSpec optional_text{VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOPT, false};
      const ParamSpec any{VT_VARIANT, PARAMFLAG_FIN, false};
      const MemberSpec members[] = {
          {u"Join", kJoin, INVOKE_FUNC, VT_BSTR, {text, optional_text, optional_text}},
          {u"Twice", kTwice, INVOKE_FUNC, VT_VOID, {{VT_I4, PARAMFLAG_FIN, true}}},
          {u"Rename", kRename, INVOKE_FUNC, VT_VOID, {{VT_BSTR, PARAMFLAG_FIN, true}}},
          {u"Sum", kSum, INVOKE_FUNC, VT_R8, {{VT_I4, PARAMFLAG_FIN, false}}, true},
          {u"Tag", kTag, INVOKE_FUNC, VT_BSTR, {}, false, true},
          {u"Child", kChild, INVOKE_FUNC, VT_DISPATCH, {}, false, true},
          {u"Fail", kFail, INVOKE_FUNC, VT_VOID, {}},
          {u"Nothing", kNothing, INVOKE_FUNC, VT_VOID, {}},
          {u"Kind", kKind, INVOKE_FUNC, VT_I4, {any}},
          {u"Echo", kEcho, INVOKE_FUNC, VT_VARIANT, {any}},
          {u"Gone", kGone, INVOKE_FUNC, VT_VOID, {}},
          {u"Price", kPrice, INVOKE_FUNC, VT_VOID, {{kCurrency, PARAMFLAG_FIN, false}}},
          {u"Raise", kRaise, INVOKE_FUNC, VT_VARIANT, {{VT_I4, PARAMFLAG_FIN, false}}},
          {u"Swap", kSwap, INVOKE_FUNC, VT_VOID, {{VT_DISPATCH, PARAMFLAG_FIN, true}}},
          {u"Trade", kTrade, INVOKE_FUNC, VT_VOID, {{VT_VARIANT, PARAMFLAG_FIN, true}}},
      };
      return TypeInfo::create(members);
    }();
    return t;
  }

  HRESULT Invoke(DISPID member, const IID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, uint32_t* argument_error) override {
    g_last_flags = flags;
    return DispatchObject::Invoke(member, iid, lcid, flags, params, result, exception,
                                  argument_error);
  }

  HRESULT call(MEMBERID id, INVOKEKIND kind, std::span<VARIANT> args, VARIANT* result) override {
    switch (id) {
      case kJoin: {
        std::u16string joined;
        for (size_t i = 0; i < args.size(); ++i) {
          if (i > 0)
            joined += u"|";
          joined += args[i].vt == VT_BSTR ? std::u16string(args[i].bstrVal ? args[i].bstrVal : u"")
                                          : std::u16string(u"-");
        }
        return put_text(result, joined);
      }
      case kTwice:
        *static_cast<int32_t*>(args[0].byref) *= 2;
        return S_OK;
      case kRename: {
        auto* s = static_cast<BSTR*>(args[0].byref);
        std::u16string renamed(*s ? *s : u"");
        renamed += u"!";
        SysFreeString(*s);
        *s = SysAllocString(renamed.c_str());
        return S_OK;
      }
      case kSum: {
        double sum = 0;
        for (const VARIANT& v : args) {
          VARIANT d{};
          if (FAILED(VariantChangeType(&d, &v, 0, VT_R8)))
            return DISP_E_TYPEMISMATCH;
          sum += d.dblVal;
        }
        if (result) {
          result->vt = VT_R8;
          result->dblVal = sum;
        }
        return S_OK;
      }
      case kTag:
        if (kind == INVOKE_PROPERTYPUT) {
          tag_ = args[0].bstrVal ? args[0].bstrVal : u"";
          return S_OK;
        }
        return put_text(result, tag_);
      case kChild:
        if (kind == INVOKE_PROPERTYPUT) {
          if (child_)
            child_->Release();
          child_ = args[0].pdispVal;
          if (child_)
            child_->AddRef();
          return S_OK;
        }
        if (result) {
          result->vt = VT_DISPATCH;
          result->pdispVal = child_;
          if (child_)
            child_->AddRef();
        }
        return S_OK;
      case kFail:
        return E_FAIL;
      case kNothing:
        return S_OK;
      case kKind:
        if (result) {
          result->vt = VT_I4;
          result->lVal = args[0].vt;
        }
        return S_OK;
      case kEcho:
        return result ? VariantCopy(result, &args[0]) : S_OK;
      case kPrice:
        return S_OK;
      case kRaise:
        return args[0].lVal;
      case kSwap: {
        auto* object = static_cast<IDispatch**>(args[0].byref);
        if (*object)
          (*object)->Release();
        *object = child_;
        if (child_)
          child_->AddRef();
        return S_OK;
      }
      case kTrade: {
        auto* value = static_cast<VARIANT*>(args[0].byref);
        VariantClear(value);
        value->vt = VT_DISPATCH;
        value->pdispVal = child_;
        if (child_)
          child_->AddRef();
        return S_OK;
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  static HRESULT put_text(VARIANT* result, const std::u16string& s) {
    if (!result)
      return S_OK;
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
    return S_OK;
  }

  ~Probe() override {
    if (child_)
      child_->Release();
    --g_probes_alive;
  }

  std::u16string tag_;
  IDispatch* child_ = nullptr;
  int added_ = 0;
  int released_ = 0;
};

// Offers IUnknown only.
class Plain final : public IUnknown {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    *object = nullptr;
    if (!(iid == IID_IUnknown))
      return E_NOINTERFACE;
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0)
      delete this;
    return left;
  }

 private:
  ~Plain() = default;
  ULONG references_ = 1;
};

// A dispatch object that keeps its type information to itself.
class Blind final : public DispatchObject {
 public:
  Blind() : DispatchObject(type()) {}
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }

 private:
  static TypeInfo* type() {
    static TypeInfo* t = TypeInfo::create({});
    return t;
  }
  HRESULT call(MEMBERID, INVOKEKIND, std::span<VARIANT>, VARIANT*) override { return S_OK; }
};

// What the factory of "FilmFinder.Fussy" hands out: while refusals are left, an object that
// answers every interface request with `g_refusal` (so that the object is not made); then
// probes.
inline int g_refusals_left = 0;
inline HRESULT g_refusal = E_INVALIDARG;
inline int g_fussy_made = 0;  // factory calls
inline int g_refusers_alive = 0;

class Refuser final : public IUnknown {
 public:
  Refuser() { ++g_refusers_alive; }
  HRESULT QueryInterface(const IID&, void** object) override {
    *object = nullptr;
    return g_refusal;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0)
      delete this;
    return left;
  }

 private:
  ~Refuser() { --g_refusers_alive; }
  ULONG references_ = 1;
};

inline void register_classes() {
  static const bool registered = [] {
    register_class(kProbeClass, u"FilmFinder.Probe",
                   [] { return static_cast<IUnknown*>(static_cast<IDispatch*>(new Probe)); });
    register_class(kPlainClass, u"FilmFinder.Plain",
                   [] { return static_cast<IUnknown*>(new Plain); });
    register_class(kBlindClass, u"FilmFinder.Blind",
                   [] { return static_cast<IUnknown*>(static_cast<IDispatch*>(new Blind)); });
    register_class(kFussyClass, u"FilmFinder.Fussy", [] {
      ++g_fussy_made;
      if (g_refusals_left > 0) {
        --g_refusals_left;
        return static_cast<IUnknown*>(new Refuser);
      }
      return static_cast<IUnknown*>(static_cast<IDispatch*>(new Probe));
    });
    return true;
  }();
  (void)registered;
}

}  // namespace probe
