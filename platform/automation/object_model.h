// Building automation classes: type information from a member table, a dispatch base that checks
// every call against it, and the class registry behind CoCreateInstance.
//
// A class lists its members (functions with their invoke kind, or variables) with declared
// parameter types; DispatchObject::Invoke finds the member by id and invoke kind, checks the
// argument count and named arguments, changes each argument to its declared type and only then
// calls the class. The classes of this library ("VBScript.RegExp") are built on it, and so can be
// classes of the program or its tests.
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/automation.h"

namespace automation {

struct ParamSpec {
  VARTYPE type = VT_VARIANT;  // VT_VARIANT: any value, unchanged
  uint16_t flags = PARAMFLAG_FIN;
  bool by_ref = false;  // the argument arrives as a reference the member may write through
};

struct MemberSpec {
  std::u16string_view name;
  MEMBERID id = 0;
  INVOKEKIND invoke_kind = INVOKE_FUNC;  // functions only
  VARTYPE type = VT_VOID;                // a function's result, or a variable's type
  std::vector<ParamSpec> params;
  bool varargs = false;   // extra arguments after the declared ones are passed on unchanged
  bool variable = false;  // a data member: read with PROPERTYGET, written with PUT or PUTREF
};

// Type information of one class, shared by its instances; also its type-binding interface.
class FF_AUTOMATION_EXPORT TypeInfo final : public ITypeInfo, public ITypeComp {
 public:
  // A new type information with one reference.
  static TypeInfo* create(std::span<const MemberSpec> members);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeComp(ITypeComp** comp) override;
  HRESULT GetIDsOfNames(const char16_t* const* names, uint32_t count, MEMBERID* ids) override;
  void ReleaseFuncDesc(FUNCDESC* desc) override;
  void ReleaseVarDesc(VARDESC* desc) override;

  HRESULT Bind(const char16_t* name, uint32_t hash, uint16_t flags, ITypeInfo** info,
               DESCKIND* kind, BINDPTR* bound) override;

  struct Member {
    std::u16string name;
    uint32_t hash = 0;
    bool variable = false;
    bool varargs = false;
    std::vector<ELEMDESC> params;
    std::vector<TYPEDESC> pointees;  // the types behind by-reference parameters
    FUNCDESC func{};
    VARDESC var{};
  };
  // The member that serves a call of `id` with dispatch `flags`, or null.
  const Member* find(MEMBERID id, uint16_t flags) const;

 private:
  explicit TypeInfo(std::span<const MemberSpec> members);
  ~TypeInfo() = default;

  std::atomic<ULONG> references_{1};
  std::vector<std::unique_ptr<Member>> members_;
};

// The base of a dispatch class: reference counting, IDispatch, and checked Invoke.
class FF_AUTOMATION_EXPORT DispatchObject : public IDispatch {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(const IID& iid, const char16_t* const* names, uint32_t count, LCID lcid,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID member, const IID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, uint32_t* argument_error) override;

 protected:
  // Takes one reference on `type`. The object starts with one reference of its own.
  explicit DispatchObject(TypeInfo* type);
  virtual ~DispatchObject();

  // A checked call. `args` are in declared order, each changed to its declared type (missing
  // optional ones as VT_ERROR carrying DISP_E_PARAMNOTFOUND, by-reference ones as VT_BYREF
  // variants), followed by any variable arguments; `kind` is INVOKE_PROPERTYGET or
  // INVOKE_PROPERTYPUT for variables. An argument that needed no change is the caller's own,
  // lent for the call: read it, copy what is kept, never change it. `result` may be null. A
  // failure other than a dispatch code is reported to the caller as DISP_E_EXCEPTION carrying it.
  virtual HRESULT call(MEMBERID id, INVOKEKIND kind, std::span<VARIANT> args, VARIANT* result) = 0;

 private:
  std::atomic<ULONG> references_{1};
  TypeInfo* type_;
};

// Makes a new object with one reference, or null.
using ClassFactory = IUnknown* (*)();

// Registers a class under a class id and a program id (compared case-insensitively). False
// when either is taken already.
FF_AUTOMATION_EXPORT bool register_class(const CLSID& clsid, std::u16string_view program_id,
                                         ClassFactory factory);

// Initialisation calls still open on the calling thread.
FF_AUTOMATION_EXPORT int thread_initialisations();

// An owned interface reference.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* adopted) : p_(adopted) {}
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  T** put() {
    reset();
    return &p_;
  }
  T* release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset() {
    if (p_)
      p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// Asks `object` for interface `iid` of type T; empty when it has none.
template <typename T>
Ref<T> query(IUnknown* object, const IID& iid) {
  void* p = nullptr;
  if (!object || FAILED(object->QueryInterface(iid, &p)))
    return Ref<T>();
  return Ref<T>(static_cast<T*>(p));
}

}  // namespace automation
