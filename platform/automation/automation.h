// The automation stand-in: reference-counted objects used by member name.
//
// It offers the concepts the program's automation bridge drives, nothing more: objects with a
// dispatch interface and type information, binding a member name with a chosen invoke kind to a
// member id, invoking by member id with arguments in reverse order, variants with their type
// changes, one-dimensional safe arrays, UTF-16 strings with a length prefix, creation by program
// id or class id, and per-thread initialisation. Names follow the platform's so that the bridge
// reads like its algorithm; nothing here is binary compatible with the platform.
//
// Strings are UTF-16 (char16_t). A null BSTR is the empty string. Every interface handed out
// carries one reference for the receiver.
#pragma once

#include <cstddef>
#include <cstdint>

#define FF_AUTOMATION_API extern "C" __attribute__((visibility("default")))
#define FF_AUTOMATION_EXPORT __attribute__((visibility("default")))

namespace automation {

using HRESULT = int32_t;
using SCODE = int32_t;
using ULONG = uint32_t;
using LCID = uint32_t;
using DISPID = int32_t;
using MEMBERID = int32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;
using BSTR = char16_t*;

inline constexpr HRESULT hresult(uint32_t bits) {
  return static_cast<HRESULT>(bits);
}
inline constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hresult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
inline constexpr HRESULT E_POINTER = hresult(0x80004003);
inline constexpr HRESULT E_FAIL = hresult(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hresult(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hresult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hresult(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = hresult(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = hresult(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = hresult(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = hresult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = hresult(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = hresult(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hresult(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hresult(0x8002000F);
inline constexpr HRESULT TYPE_E_TYPEMISMATCH = hresult(0x80028CA0);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hresult(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = hresult(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = hresult(0x800401F3);

// Failures the regular-expression object raises through DISP_E_EXCEPTION.
inline constexpr HRESULT kErrorInvalidArgument = hresult(0x800A0005);  // index out of range
inline constexpr HRESULT kErrorPatternSyntax = hresult(0x800A1399);    // pattern does not compile
inline constexpr HRESULT kErrorMatchAbandoned = hresult(0x800A001C);   // a matching limit was hit

// --- Identifiers ---

struct GUID {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
using IID = GUID;
using CLSID = GUID;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
    return false;
  for (int i = 0; i < 8; ++i) {
    if (a.data4[i] != b.data4[i])
      return false;
  }
  return true;
}

inline constexpr IID IID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Class contexts of object creation.
inline constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;
inline constexpr uint32_t CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr uint32_t CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr uint32_t CLSCTX_REMOTE_SERVER = 0x10;

// --- Variants ---

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_VOID = 24,
  VT_PTR = 26,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

class IUnknown;
class IDispatch;
struct SAFEARRAY;

// 16 bytes: the type, three reserved words, then the value or a pointer.
struct VARIANT {
  VARTYPE vt;
  uint16_t reserved1;
  uint16_t reserved2;
  uint16_t reserved3;
  union {
    uint8_t bVal;
    int16_t iVal;
    int32_t lVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    VARIANT* pvarVal;
    void* byref;
  };
};
static_assert(sizeof(VARIANT) == 16, "a variant value is a 16-byte block");

// --- Safe arrays (one dimension) ---

struct SAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
};

struct SAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  VARTYPE vt;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

// --- Dispatch ---

enum : uint16_t {
  DISPATCH_METHOD = 0x1,
  DISPATCH_PROPERTYGET = 0x2,
  DISPATCH_PROPERTYPUT = 0x4,
  DISPATCH_PROPERTYPUTREF = 0x8,
};

enum INVOKEKIND : uint16_t {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};

inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

struct DISPPARAMS {
  VARIANT* rgvarg;            // arguments, last one first
  DISPID* rgdispidNamedArgs;  // ids of the named arguments at the front of rgvarg
  uint32_t cArgs;
  uint32_t cNamedArgs;
};

struct EXCEPINFO {
  uint16_t wCode;
  BSTR bstrSource;
  BSTR bstrDescription;
  SCODE scode;
};

// --- Type information ---

enum : uint16_t {
  PARAMFLAG_NONE = 0,
  PARAMFLAG_FIN = 0x1,
  PARAMFLAG_FOUT = 0x2,
  PARAMFLAG_FOPT = 0x10,
};

struct TYPEDESC {
  const TYPEDESC* lptdesc;  // for VT_PTR: the type pointed to
  VARTYPE vt;
};

struct PARAMDESC {
  uint16_t wParamFlags;
};

struct ELEMDESC {
  TYPEDESC tdesc;
  PARAMDESC paramdesc;
};

enum FUNCKIND : uint16_t { FUNC_DISPATCH = 4 };
enum VARKIND : uint16_t { VAR_DISPATCH = 3 };

struct FUNCDESC {
  MEMBERID memid;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  int16_t cParams;
  int16_t cParamsOpt;  // -1: the member takes a variable argument list after its parameters
  const ELEMDESC* lprgelemdescParam;
  ELEMDESC elemdescFunc;
};

struct VARDESC {
  MEMBERID memid;
  ELEMDESC elemdescVar;
  VARKIND varkind;
};

enum DESCKIND : uint16_t {
  DESCKIND_NONE = 0,
  DESCKIND_FUNCDESC = 1,
  DESCKIND_VARDESC = 2,
  DESCKIND_TYPECOMP = 3,
  DESCKIND_IMPLICITAPPOBJ = 4,
};

class ITypeComp;

union BINDPTR {
  FUNCDESC* lpfuncdesc;
  VARDESC* lpvardesc;
  ITypeComp* lptcomp;
};

enum SYSKIND : uint32_t { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };

// --- Interfaces ---

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

class ITypeInfo;

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(const IID& iid, const char16_t* const* names, uint32_t count,
                                LCID lcid, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID member, const IID& iid, LCID lcid, uint16_t flags,
                         DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                         uint32_t* argument_error) = 0;

 protected:
  ~IDispatch() = default;
};

class ITypeComp : public IUnknown {
 public:
  // Binds `name` (whose LHashValOfNameSys hash is `hash`) with invoke kind `flags` (0: any).
  // Not found: S_OK with DESCKIND_NONE. Found only with other invoke kinds: TYPE_E_TYPEMISMATCH.
  // A function or variable description comes with the type information that owns it, which
  // releases it (ReleaseFuncDesc / ReleaseVarDesc).
  virtual HRESULT Bind(const char16_t* name, uint32_t hash, uint16_t flags, ITypeInfo** info,
                       DESCKIND* kind, BINDPTR* bound) = 0;

 protected:
  ~ITypeComp() = default;
};

class ITypeInfo : public IUnknown {
 public:
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
  virtual HRESULT GetIDsOfNames(const char16_t* const* names, uint32_t count, MEMBERID* ids) = 0;
  virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
  virtual void ReleaseVarDesc(VARDESC* desc) = 0;

 protected:
  ~ITypeInfo() = default;
};

// --- Pictures ---

// A bitmap is named by a handle number (0 is none), so that it fits the 32-bit integer members
// of picture objects. Its pixels are rows top to bottom, each 0xAARRGGBB. A bitmap is also the
// surface a picture renders into: here a memory drawing context is the bitmap selected into it.
using HBITMAP = uint32_t;

// What GetObjectA reports of a bitmap.
struct BITMAP {
  int32_t bmType;  // 0
  int32_t bmWidth;
  int32_t bmHeight;
  int32_t bmWidthBytes;  // bmWidth * 4
  uint16_t bmPlanes;     // 1
  uint16_t bmBitsPixel;  // 32
  void* bmBits;          // null: the pixels are read with GetBitmapBits
};

enum : uint32_t {
  PICTYPE_UNINITIALIZED = 0xFFFFFFFFu,
  PICTYPE_NONE = 0,
  PICTYPE_BITMAP = 1,
};

// The description a picture object is made from. cbSizeofstruct must be sizeof(PICTDESC).
struct PICTDESC {
  uint32_t cbSizeofstruct;
  uint32_t picType;
  union {
    struct {
      HBITMAP hbitmap;
      uint32_t hpal;  // palettes are not used: 32-bit pixels
    } bmp;
    struct {
      uint32_t hmeta;
      int32_t xExt;
      int32_t yExt;
    } wmf;
  };
};

// The dispatch interface of picture objects; the objects answer IUnknown and IDispatch too.
inline constexpr IID IID_IPictureDisp{
    0x7BF80981, 0xBF32, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};

// Picture objects measure in 0.01 mm at 96 pixels per inch: pixels * 2540 / 96, rounded.
inline constexpr int32_t kPictureDpi = 96;
inline constexpr int32_t kHimetricPerInch = 2540;

// a * b / c rounded half away from zero, as the platform's MulDiv: the conversion between
// pixels and 0.01 mm both ways.
inline int32_t mul_div(int64_t a, int64_t b, int64_t c) {
  const int64_t p = a * b;
  return static_cast<int32_t>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

}  // namespace automation

// --- Exported functions (platform names) ---

// Per-thread initialisation: S_OK the first time on a thread, S_FALSE when already initialised.
// Each successful call is balanced by one CoUninitialize. Objects are created only on an
// initialised thread.
FF_AUTOMATION_API automation::HRESULT CoInitialize(void* reserved);
FF_AUTOMATION_API void CoUninitialize();

FF_AUTOMATION_API automation::HRESULT CoCreateInstance(const automation::CLSID& clsid,
                                                       automation::IUnknown* outer,
                                                       uint32_t context, const automation::IID& iid,
                                                       void** object);
// A program id such as "VBScript.RegExp" (case-insensitive); CO_E_CLASSSTRING when unknown.
FF_AUTOMATION_API automation::HRESULT CLSIDFromProgID(const char16_t* program_id,
                                                      automation::CLSID* clsid);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"; CO_E_CLASSSTRING when malformed.
FF_AUTOMATION_API automation::HRESULT CLSIDFromString(const char16_t* text,
                                                      automation::CLSID* clsid);
// Objects here are in-process and always running: S_OK for any object.
FF_AUTOMATION_API automation::HRESULT OleRun(automation::IUnknown* object);

FF_AUTOMATION_API automation::LCID GetUserDefaultLCID();
// A case-insensitive hash of a member name, as ITypeComp::Bind expects it.
FF_AUTOMATION_API uint32_t LHashValOfNameSys(automation::SYSKIND kind, automation::LCID lcid,
                                             const char16_t* name);

FF_AUTOMATION_API automation::BSTR SysAllocString(const char16_t* text);
// A string of `length` units copied from `text` (left for the caller to fill when text is null;
// the terminator is always set); null when the length is beyond what a string may hold or memory
// runs out.
FF_AUTOMATION_API automation::BSTR SysAllocStringLen(const char16_t* text, uint32_t length);
// Replaces *string by a string of `length` units from `text`. When `text` is *string itself the
// block is resized in place, keeping the first units. 0 (and *string unchanged) on failure.
FF_AUTOMATION_API int SysReAllocStringLen(automation::BSTR* string, const char16_t* text,
                                          uint32_t length);
FF_AUTOMATION_API void SysFreeString(automation::BSTR string);
FF_AUTOMATION_API uint32_t SysStringLen(automation::BSTR string);

FF_AUTOMATION_API void VariantInit(automation::VARIANT* variant);
FF_AUTOMATION_API automation::HRESULT VariantClear(automation::VARIANT* variant);
// Deep copies (strings copied, interfaces referenced, arrays copied); by-reference variants are
// copied as references. The destination is cleared first.
FF_AUTOMATION_API automation::HRESULT VariantCopy(automation::VARIANT* destination,
                                                  const automation::VARIANT* source);
// As VariantCopy, but a by-reference source is copied as the value it refers to.
FF_AUTOMATION_API automation::HRESULT VariantCopyInd(automation::VARIANT* destination,
                                                     const automation::VARIANT* source);
// Changes the (dereferenced) source to type `target`; destination may be the source. Numbers
// convert with range checks (DISP_E_OVERFLOW) and round half to even; text parses as a number
// or "True"/"False" (DISP_E_TYPEMISMATCH otherwise) and is never read as a date; bools become
// -1 and 0; an empty variant becomes 0, false or the empty string; null converts to nothing
// else; interfaces convert to interfaces only. On failure the destination is unchanged.
FF_AUTOMATION_API automation::HRESULT VariantChangeType(automation::VARIANT* destination,
                                                        const automation::VARIANT* source,
                                                        uint16_t flags, automation::VARTYPE target);

// One-dimensional safe arrays of VT_UI1, VT_I2, VT_I4, VT_R4, VT_R8, VT_DATE, VT_BOOL, VT_ERROR,
// VT_BSTR, VT_UNKNOWN, VT_DISPATCH or VT_VARIANT, elements zeroed.
FF_AUTOMATION_API automation::SAFEARRAY* SafeArrayCreateVector(automation::VARTYPE type,
                                                               int32_t lower_bound, uint32_t count);
FF_AUTOMATION_API automation::HRESULT SafeArrayDestroy(automation::SAFEARRAY* array);
FF_AUTOMATION_API automation::HRESULT SafeArrayCopy(const automation::SAFEARRAY* array,
                                                    automation::SAFEARRAY** copy);
FF_AUTOMATION_API automation::HRESULT SafeArrayGetVartype(const automation::SAFEARRAY* array,
                                                          automation::VARTYPE* type);
FF_AUTOMATION_API automation::HRESULT SafeArrayGetLBound(const automation::SAFEARRAY* array,
                                                         uint32_t dimension, int32_t* bound);
FF_AUTOMATION_API automation::HRESULT SafeArrayGetUBound(const automation::SAFEARRAY* array,
                                                         uint32_t dimension, int32_t* bound);
// Stores a copy of *value (a string, an interface, a variant or a plain value of the element
// type) at indices[0]; DISP_E_BADINDEX outside the bounds.
FF_AUTOMATION_API automation::HRESULT SafeArrayPutElement(automation::SAFEARRAY* array,
                                                          const int32_t* indices,
                                                          const void* value);
FF_AUTOMATION_API automation::HRESULT SafeArrayGetElement(const automation::SAFEARRAY* array,
                                                          const int32_t* indices, void* value);
FF_AUTOMATION_API automation::HRESULT SafeArrayAccessData(automation::SAFEARRAY* array,
                                                          void** data);
FF_AUTOMATION_API automation::HRESULT SafeArrayUnaccessData(automation::SAFEARRAY* array);

// Bitmaps: 1 plane of 32 bits per pixel only, 1 to 16384 pixels a side and at most 2^26 pixels;
// `bits` (width * height pixels) is copied, or the bitmap starts transparent black when it is
// null. 0 when the size or format is refused or memory runs out. Any thread.
FF_AUTOMATION_API automation::HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t planes,
                                                   uint32_t bits_per_pixel, const void* bits);
// Fills *out (size bytes, at least sizeof(BITMAP)) with the bitmap's description; the bytes
// written, 0 for an unknown handle or a short buffer.
FF_AUTOMATION_API int GetObjectA(automation::HBITMAP bitmap, int size, void* out);
// Copies up to `count` bytes of the pixels to `bits`; the bytes copied, 0 for an unknown handle.
FF_AUTOMATION_API int32_t GetBitmapBits(automation::HBITMAP bitmap, int32_t count, void* bits);
// Deletes a bitmap; 0 when the handle names none (or was deleted already).
FF_AUTOMATION_API int DeleteObject(automation::HBITMAP bitmap);

// A picture object from a description: a bitmap picture, an empty one (PICTYPE_NONE) or, with
// no description, an uninitialised one. With `own` the picture deletes the bitmap when it goes;
// otherwise the bitmap must outlive it. Members, by name:
//   Handle (get, 0: the bitmap handle), hPal (get, 2), Type (get, 3), Width and Height (get, 4
//   and 5: 0.01 mm), Render (method, 6: hdc, x, y, cx, cy, xSrc, ySrc, cxSrc, cySrc,
//   prcWBounds) draws the source rectangle (0.01 mm, y up from the picture's bottom edge: the
//   whole picture upright is xSrc 0, ySrc Height, cxSrc Width, cySrc -Height) stretched into
//   the destination rectangle of the bitmap `hdc` (pixels, clipped to it), copying pixels.
// E_INVALIDARG for a wrong size field, an unknown type or a handle that names no bitmap,
// E_NOINTERFACE for an interface other than IPictureDisp, IDispatch or IUnknown; the
// description's bitmap is not taken then.
FF_AUTOMATION_API automation::HRESULT OleCreatePictureIndirect(const automation::PICTDESC* desc,
                                                               const automation::IID& iid, int own,
                                                               void** picture);
