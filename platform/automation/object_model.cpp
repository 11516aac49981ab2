#include "platform/automation/object_model.h"

#include <array>
#include <cstring>
#include <mutex>

#include "platform/automation/regexp_object.h"

namespace automation {
namespace {

char16_t fold(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

bool same_name(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i]))
      return false;
  }
  return true;
}

uint32_t name_hash(std::u16string_view name) {
  uint32_t h = 2166136261u;  // FNV-1a over the folded units
  for (char16_t c : name) {
    h = (h ^ fold(c)) * 16777619u;
  }
  return h;
}

bool is_put(uint16_t flags) {
  return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
}

bool is_missing(const VARIANT& v) {
  return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

bool is_dispatch_code(HRESULT hr) {
  return (static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80020000u;
}

// A few slots on the stack, more from the heap only for long argument lists.
template <typename T, size_t N>
class Slots {
 public:
  explicit Slots(size_t n) : n_(n) {
    if (n > N)
      heap_ = std::make_unique<T[]>(n);
    std::memset(static_cast<void*>(data()), 0, n * sizeof(T));
  }
  T* data() { return heap_ ? heap_.get() : inline_.data(); }
  T& operator[](size_t i) { return data()[i]; }
  size_t size() const { return n_; }

 private:
  size_t n_;
  std::array<T, N> inline_{};
  std::unique_ptr<T[]> heap_;
};

// --- Class registry and threads ---

struct ClassEntry {
  CLSID clsid;
  std::u16string program_id;
  ClassFactory factory;
};

struct Registry {
  std::mutex lock;
  std::vector<ClassEntry> classes;
};

Registry& registry() {
  static Registry* r = [] {
    auto* fresh = new Registry;  // lives until the process ends
    fresh->classes.push_back({kRegExpClassId, u"VBScript.RegExp", &create_regexp});
    return fresh;
  }();
  return *r;
}

thread_local int t_initialisations = 0;

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  return -1;
}

bool parse_hex(std::u16string_view s, uint64_t& out) {
  out = 0;
  for (char16_t c : s) {
    const int v = hex_value(c);
    if (v < 0)
      return false;
    out = out << 4 | static_cast<uint64_t>(v);
  }
  return true;
}

}  // namespace

// --- TypeInfo ---

TypeInfo* TypeInfo::create(std::span<const MemberSpec> members) {
  return new TypeInfo(members);
}

TypeInfo::TypeInfo(std::span<const MemberSpec> members) {
  for (const MemberSpec& declared : members) {
    auto m = std::make_unique<Member>();
    m->name = declared.name;
    m->hash = name_hash(declared.name);
    m->variable = declared.variable;
    m->varargs = declared.varargs;
    m->pointees.reserve(declared.params.size());
    int16_t optional = 0;
    for (const ParamSpec& p : declared.params) {
      ELEMDESC e{};
      e.paramdesc.wParamFlags = p.flags;
      if (p.by_ref) {
        m->pointees.push_back({nullptr, p.type});
        e.tdesc = {&m->pointees.back(), VT_PTR};
        e.paramdesc.wParamFlags = static_cast<uint16_t>(e.paramdesc.wParamFlags | PARAMFLAG_FOUT);
      } else {
        e.tdesc = {nullptr, p.type};
      }
      if (p.flags & PARAMFLAG_FOPT)
        ++optional;
      m->params.push_back(e);
    }
    ELEMDESC type{};
    type.tdesc = {nullptr, declared.type};
    if (declared.variable) {
      m->var = {declared.id, type, VAR_DISPATCH};
    } else {
      m->func.memid = declared.id;
      m->func.funckind = FUNC_DISPATCH;
      m->func.invkind = declared.invoke_kind;
      m->func.cParams = static_cast<int16_t>(m->params.size());
      m->func.cParamsOpt = declared.varargs ? int16_t{-1} : optional;
      m->func.lprgelemdescParam = m->params.data();
      m->func.elemdescFunc = type;
    }
    members_.push_back(std::move(m));
  }
}

HRESULT TypeInfo::QueryInterface(const IID& iid, void** object) {
  if (!object)
    return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(static_cast<ITypeInfo*>(this));
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG TypeInfo::AddRef() {
  return references_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG TypeInfo::Release() {
  const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0)
    delete this;
  return left;
}

HRESULT TypeInfo::GetTypeComp(ITypeComp** comp) {
  if (!comp)
    return E_POINTER;
  AddRef();
  *comp = this;
  return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(const char16_t* const* names, uint32_t count, MEMBERID* ids) {
  if (!names || !ids || count == 0)
    return E_INVALIDARG;
  for (uint32_t i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (!names[0])
    return E_INVALIDARG;
  for (const auto& m : members_) {
    if (same_name(m->name, names[0])) {
      ids[0] = m->variable ? m->var.memid : m->func.memid;
      // Parameters carry no names here.
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

// The descriptions live as long as the type information: nothing to free.
void TypeInfo::ReleaseFuncDesc(FUNCDESC*) {}
void TypeInfo::ReleaseVarDesc(VARDESC*) {}

HRESULT TypeInfo::Bind(const char16_t* name, uint32_t hash, uint16_t flags, ITypeInfo** info,
                       DESCKIND* kind, BINDPTR* bound) {
  if (!name || !info || !kind || !bound)
    return E_INVALIDARG;
  *info = nullptr;
  *kind = DESCKIND_NONE;
  bound->lpfuncdesc = nullptr;
  const std::u16string_view wanted(name);
  bool name_found = false;
  for (const auto& m : members_) {
    if (m->hash != hash || !same_name(m->name, wanted))
      continue;
    name_found = true;
    const uint16_t kinds =
        m->variable ? uint16_t{INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF}
                    : uint16_t{m->func.invkind};
    if (flags != 0 && (kinds & flags) == 0)
      continue;
    AddRef();
    *info = this;
    if (m->variable) {
      *kind = DESCKIND_VARDESC;
      bound->lpvardesc = &m->var;
    } else {
      *kind = DESCKIND_FUNCDESC;
      bound->lpfuncdesc = &m->func;
    }
    return S_OK;
  }
  return name_found ? TYPE_E_TYPEMISMATCH : S_OK;
}

const TypeInfo::Member* TypeInfo::find(MEMBERID id, uint16_t flags) const {
  // A put is looked for among the put members first, so that a property's get and put, which
  // share one id, are told apart.
  const uint16_t passes[2] = {
      static_cast<uint16_t>(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)),
      static_cast<uint16_t>(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))};
  for (uint16_t wanted : passes) {
    if (wanted == 0)
      continue;
    for (const auto& m : members_) {
      if (m->variable) {
        if (m->var.memid == id)
          return m.get();
      } else if (m->func.memid == id && (m->func.invkind & wanted) != 0) {
        return m.get();
      }
    }
  }
  return nullptr;
}

// --- DispatchObject ---

DispatchObject::DispatchObject(TypeInfo* type) : type_(type) {
  type_->AddRef();
}

DispatchObject::~DispatchObject() {
  type_->Release();
}

HRESULT DispatchObject::QueryInterface(const IID& iid, void** object) {
  if (!object)
    return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(this);
  } else if (iid == IID_IDispatch) {
    *object = static_cast<IDispatch*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG DispatchObject::AddRef() {
  return references_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG DispatchObject::Release() {
  const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0)
    delete this;
  return left;
}

HRESULT DispatchObject::GetTypeInfoCount(uint32_t* count) {
  if (!count)
    return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(uint32_t index, LCID, ITypeInfo** info) {
  if (!info)
    return E_POINTER;
  *info = nullptr;
  if (index != 0)
    return DISP_E_BADINDEX;
  type_->AddRef();
  *info = type_;
  return S_OK;
}

HRESULT DispatchObject::GetIDsOfNames(const IID& iid, const char16_t* const* names, uint32_t count,
                                      LCID, DISPID* ids) {
  if (!(iid == IID_NULL))
    return DISP_E_UNKNOWNINTERFACE;
  return type_->GetIDsOfNames(names, count, ids);
}

HRESULT DispatchObject::Invoke(DISPID id, const IID& iid, LCID, uint16_t flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, uint32_t* argument_error) {
  if (!(iid == IID_NULL))
    return DISP_E_UNKNOWNINTERFACE;
  if (!params || (params->cArgs > 0 && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
      (params->cNamedArgs > 0 && !params->rgdispidNamedArgs)) {
    return E_INVALIDARG;
  }
  const TypeInfo::Member* m = type_->find(id, flags);
  if (!m)
    return DISP_E_MEMBERNOTFOUND;

  const bool put = m->variable ? is_put(flags) : is_put(m->func.invkind);
  if (put) {
    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return DISP_E_PARAMNOTOPTIONAL;
    }
  } else if (params->cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }

  // Arguments in declared order, with their places in rgvarg: the positional ones reversed,
  // then a put's value.
  const uint32_t given = params->cArgs;
  Slots<uint32_t, 8> order(given);
  size_t n = 0;
  for (uint32_t i = given; i-- > params->cNamedArgs;) order[n++] = i;
  if (put)
    order[n++] = 0;

  const ELEMDESC* declared = nullptr;
  size_t declared_count = 0;
  ELEMDESC variable_value{};
  if (m->variable) {
    if (put) {
      variable_value = m->var.elemdescVar;
      declared = &variable_value;
      declared_count = 1;
    }
  } else {
    declared = m->params.data();
    declared_count = m->params.size();
  }
  if (n > declared_count && !m->varargs)
    return DISP_E_BADPARAMCOUNT;

  const size_t total = n > declared_count ? n : declared_count;
  Slots<VARIANT, 8> args(total);
  Slots<bool, 8> owned(total);  // by-reference arguments are borrowed, never cleared
  auto clear_args = [&] {
    for (size_t i = 0; i < total; ++i) {
      if (owned[i])
        VariantClear(&args[i]);
    }
  };
  auto fail = [&](HRESULT hr, size_t position) {
    clear_args();
    if (argument_error && position < n)
      *argument_error = order[position];
    return hr;
  };

  for (size_t i = 0; i < total; ++i) {
    if (i >= n) {
      // Left out at the end: fine only where the parameter is optional.
      if (!(declared[i].paramdesc.wParamFlags & PARAMFLAG_FOPT))
        return fail(DISP_E_BADPARAMCOUNT, i);
      args[i].vt = VT_ERROR;
      args[i].scode = DISP_E_PARAMNOTFOUND;
      continue;
    }
    const VARIANT& arg = params->rgvarg[order[i]];
    if (i >= declared_count) {
      owned[i] = true;
      const HRESULT hr = VariantCopyInd(&args[i], &arg);
      if (FAILED(hr))
        return fail(hr, i);
      continue;
    }
    const ELEMDESC& e = declared[i];
    if (is_missing(arg)) {
      if (!(e.paramdesc.wParamFlags & PARAMFLAG_FOPT))
        return fail(DISP_E_PARAMNOTOPTIONAL, i);
      args[i] = arg;
      continue;
    }
    if (e.tdesc.vt == VT_PTR) {
      const VARTYPE pointee = e.tdesc.lptdesc->vt;
      if (arg.vt != static_cast<VARTYPE>(VT_BYREF | pointee) || !arg.byref) {
        return fail(DISP_E_TYPEMISMATCH, i);
      }
      args[i] = arg;
      continue;
    }
    if (arg.vt == e.tdesc.vt || (e.tdesc.vt == VT_VARIANT && !(arg.vt & VT_BYREF))) {
      args[i] = arg;  // already of the declared type: lent to the member, which only reads it
      continue;
    }
    owned[i] = true;
    const HRESULT hr = e.tdesc.vt == VT_VARIANT ? VariantCopyInd(&args[i], &arg)
                                                : VariantChangeType(&args[i], &arg, 0, e.tdesc.vt);
    if (FAILED(hr))
      return fail(hr, i);
  }

  INVOKEKIND kind = m->variable ? (put ? INVOKE_PROPERTYPUT : INVOKE_PROPERTYGET) : m->func.invkind;
  VARIANT out;
  VariantInit(&out);
  const HRESULT hr =
      call(id, kind, std::span<VARIANT>(args.data(), total), result ? &out : nullptr);
  clear_args();
  if (FAILED(hr)) {
    VariantClear(&out);
    if (is_dispatch_code(hr))
      return hr;
    if (exception) {
      std::memset(exception, 0, sizeof *exception);
      exception->scode = hr;
    }
    return DISP_E_EXCEPTION;
  }
  if (result)
    *result = out;
  return S_OK;
}

// --- Registry ---

bool register_class(const CLSID& clsid, std::u16string_view program_id, ClassFactory factory) {
  if (!factory || program_id.empty())
    return false;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const ClassEntry& c : r.classes) {
    if (c.clsid == clsid || same_name(c.program_id, program_id))
      return false;
  }
  r.classes.push_back({clsid, std::u16string(program_id), factory});
  return true;
}

int thread_initialisations() {
  return t_initialisations;
}

}  // namespace automation

using namespace automation;

HRESULT CoInitialize(void*) {
  return t_initialisations++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_initialisations > 0)
    --t_initialisations;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, const IID& iid,
                         void** object) {
  if (!object)
    return E_POINTER;
  *object = nullptr;
  if (t_initialisations == 0)
    return CO_E_NOTINITIALIZED;
  if (outer)
    return CLASS_E_NOAGGREGATION;
  // Every class here is an in-process server.
  if (!(context & CLSCTX_INPROC_SERVER))
    return REGDB_E_CLASSNOTREG;
  ClassFactory factory = nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const ClassEntry& c : r.classes) {
      if (c.clsid == clsid)
        factory = c.factory;
    }
  }
  if (!factory)
    return REGDB_E_CLASSNOTREG;
  IUnknown* made = factory();
  if (!made)
    return E_OUTOFMEMORY;
  const HRESULT hr = made->QueryInterface(iid, object);
  made->Release();
  return hr;
}

HRESULT CLSIDFromProgID(const char16_t* program_id, CLSID* clsid) {
  if (!program_id || !clsid)
    return E_INVALIDARG;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const ClassEntry& c : r.classes) {
    if (same_name(c.program_id, program_id)) {
      *clsid = c.clsid;
      return S_OK;
    }
  }
  return CO_E_CLASSSTRING;
}

HRESULT CLSIDFromString(const char16_t* text, CLSID* clsid) {
  if (!text || !clsid)
    return E_INVALIDARG;
  const std::u16string_view s(text);
  // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
  if (s.size() != 38 || s[0] != u'{' || s[37] != u'}' || s[9] != u'-' || s[14] != u'-' ||
      s[19] != u'-' || s[24] != u'-') {
    return CO_E_CLASSSTRING;
  }
  uint64_t d1, d2, d3, d4, d5;
  if (!parse_hex(s.substr(1, 8), d1) || !parse_hex(s.substr(10, 4), d2) ||
      !parse_hex(s.substr(15, 4), d3) || !parse_hex(s.substr(20, 4), d4) ||
      !parse_hex(s.substr(25, 12), d5)) {
    return CO_E_CLASSSTRING;
  }
  CLSID id{};
  id.data1 = static_cast<uint32_t>(d1);
  id.data2 = static_cast<uint16_t>(d2);
  id.data3 = static_cast<uint16_t>(d3);
  id.data4[0] = static_cast<uint8_t>(d4 >> 8);
  id.data4[1] = static_cast<uint8_t>(d4);
  for (int i = 0; i < 6; ++i) id.data4[2 + i] = static_cast<uint8_t>(d5 >> (40 - 8 * i));
  *clsid = id;
  return S_OK;
}

HRESULT OleRun(IUnknown* object) {
  return object ? S_OK : E_INVALIDARG;
}

LCID GetUserDefaultLCID() {
  return 0x0804;
}  // Chinese (PRC)

uint32_t LHashValOfNameSys(SYSKIND, LCID, const char16_t* name) {
  return name ? name_hash(name) : 0;
}
