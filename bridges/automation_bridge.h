// The automation bridge: program values that hold automation objects and variants, and the
// commands that create objects and use them by member name.
//
// An object value (kind 0x00010030) is a two-word holder block {interface, unused} owned by its
// variable; it holds one reference on its object. A variant value (kind 0x00010031) is a 16-byte
// block holding one variant; a cleared one is all zero. A cell of either kind carries the
// block's address; with bit 29 set it carries the address of the caller's variable instead.
//
// Every member call binds the name afresh through the object's type information and leaves the
// thread's automation error code (0, or -1 .. -18) behind; nothing here reports a failure other
// than by an empty result, a false bool, and that code. The calling thread must have initialised
// the automation runtime (CoInitialize) before creating objects.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "platform/automation/automation.h"
#include "runtime/command.h"

namespace bridges {

inline constexpr rt::TypeCode kObjectValue = 0x00010030;
inline constexpr rt::TypeCode kVariantValue = 0x00010031;

// The thread's automation error code after the last member call.
enum AutomationError : int32_t {
  kAutomationOk = 0,
  kEmptyObject = -1,
  kNoDispatch = -2,
  kNotBound = -3,
  kNoTypeInfo = -4,
  kTooManyArguments = -5,
  kUnconvertibleArgument = -7,
  kUnconvertibleResult = -8,
  kBadParamCount = -9,        // DISP_E_BADPARAMCOUNT
  kBadVarType = -10,          // DISP_E_BADVARTYPE
  kException = -11,           // DISP_E_EXCEPTION
  kMemberNotFound = -12,      // DISP_E_MEMBERNOTFOUND
  kNoNamedArgs = -13,         // DISP_E_NONAMEDARGS
  kOverflow = -14,            // DISP_E_OVERFLOW
  kParamNotFound = -15,       // DISP_E_PARAMNOTFOUND
  kTypeMismatch = -16,        // DISP_E_TYPEMISMATCH
  kParamNotOptional = -17,    // DISP_E_PARAMNOTOPTIONAL
  kOtherInvokeFailure = -18,  // any other failure of Invoke
};
int32_t automation_error();

struct ObjectHolder {
  automation::IUnknown* object;  // null: empty
  void* reserved;                // unused; always null
};

// Blocks on the runtime heap, and their release when a variable holding one goes away.
ObjectHolder* new_object_holder();
void release_object_value(ObjectHolder* holder);
automation::VARIANT* new_variant_value();
void release_variant_value(automation::VARIANT* variant);

// Owns an object value: a holder block, released (object and block) with the owner.
class Object {
 public:
  Object() : holder_(new_object_holder()) {}
  static Object adopt(ObjectHolder* holder) { return Object(holder); }
  Object(Object&& o) noexcept : holder_(std::exchange(o.holder_, nullptr)) {}
  Object& operator=(Object&& o) noexcept {
    if (this != &o)
      release_object_value(std::exchange(holder_, std::exchange(o.holder_, nullptr)));
    return *this;
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  ~Object() { release_object_value(holder_); }

  ObjectHolder* holder() const { return holder_; }
  // Gives the holder block up to the caller, who releases it (release_object_value).
  ObjectHolder* release() { return std::exchange(holder_, nullptr); }
  automation::IUnknown* get() const { return holder_ ? holder_->object : nullptr; }
  bool empty() const { return get() == nullptr; }
  rt::Cell cell() const { return rt::Cell::of_pointer(holder_, kObjectValue); }

 private:
  explicit Object(ObjectHolder* holder) : holder_(holder) {}
  ObjectHolder* holder_;
};

// Owns a variant value: a 16-byte block, cleared and freed with the owner.
class Variant {
 public:
  Variant() : block_(new_variant_value()) {}
  static Variant adopt(automation::VARIANT* block) { return Variant(block); }
  Variant(Variant&& o) noexcept : block_(std::exchange(o.block_, nullptr)) {}
  Variant& operator=(Variant&& o) noexcept {
    if (this != &o)
      release_variant_value(std::exchange(block_, std::exchange(o.block_, nullptr)));
    return *this;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { release_variant_value(block_); }

  automation::VARIANT* get() const { return block_; }
  // Gives the block up to the caller, who releases it (release_variant_value).
  automation::VARIANT* release() { return std::exchange(block_, nullptr); }
  rt::Cell cell() const { return rt::Cell::of_pointer(block_, kVariantValue); }
  // The cell of a variant passed by reference: the address of the variable holding the block.
  rt::Cell ref_cell() { return rt::Cell::by_ref(&block_, kVariantValue); }

 private:
  explicit Variant(automation::VARIANT* block) : block_(block) {}
  automation::VARIANT* block_;
};

inline rt::Cell to_cell(const Object& o) {
  return o.cell();
}
inline rt::Cell to_cell(const Variant& v) {
  return v.cell();
}

// --- Commands (result cell, argument count, argument cells) ---
namespace cmd {

// (object, program id or "{class id}", [type-library file]) -> bool. The object held before is
// released only when the new one is stored. A type-library file is accepted and not read: this
// platform has no type libraries, so the id is always looked up as a class or program id.
void create_object(rt::Cell* r, int32_t n, const rt::Cell* a);
// (object, picture bytes) -> bool. The bytes are decoded as a picture unit decodes them (first
// frame) into a bitmap the new picture object owns; its Width and Height are in 0.01 mm and
// Render draws it (platform/automation/automation.h). Bytes that are no picture give false and
// leave the object as it was.
void create_picture_object(rt::Cell* r, int32_t n, const rt::Cell* a);
// (object, property, new value) -> bool: the error code is 0 after the write.
void write_property(rt::Cell* r, int32_t n, const rt::Cell* a);
// (object, property, [arguments...]) -> text / double / new object value / new variant value.
void read_text_property(rt::Cell* r, int32_t n, const rt::Cell* a);
void read_number_property(rt::Cell* r, int32_t n, const rt::Cell* a);
void read_object_property(rt::Cell* r, int32_t n, const rt::Cell* a);
void read_variant_property(rt::Cell* r, int32_t n, const rt::Cell* a);
// (object, method, [arguments...]) -> nothing / text / new object value.
void call_method(rt::Cell* r, int32_t n, const rt::Cell* a);
void call_text_method(rt::Cell* r, int32_t n, const rt::Cell* a);
void call_object_method(rt::Cell* r, int32_t n, const rt::Cell* a);
// (destination object, source object): the destination holds the source's object with one more
// reference; an object it held before is released.
void copy_object(rt::Cell* r, int32_t n, const rt::Cell* a);
void clear_object(rt::Cell* r, int32_t n, const rt::Cell* a);
void object_is_empty(rt::Cell* r, int32_t n, const rt::Cell* a);
// (variant, value, [element index]) -> bool. A text becomes a UTF-16 string, a byte set a safe
// array of bytes, a one-dimensional array a safe array of its element kind (indices from 0).
// With an index, into a variant that holds a safe array, the value is changed to the element
// type and stored at that index instead. On failure the variant is unchanged.
void set_variant(rt::Cell* r, int32_t n, const rt::Cell* a);
// (destination variant, source variant): the destination is cleared, then receives a copy.
void assign_variant(rt::Cell* r, int32_t n, const rt::Cell* a);
void clear_variant(rt::Cell* r, int32_t n, const rt::Cell* a);
// (variant) -> text; empty when the variant has no text form.
void variant_to_text(rt::Cell* r, int32_t n, const rt::Cell* a);

}  // namespace cmd

// --- Typed functions: what the commands do, for C++ callers ---
//
// Each does exactly what its command does (same results, same ownership, same error code left
// behind); the commands only read their cells, call these and store the result. An object or
// variant given as null is the empty one.

bool create_object(ObjectHolder* holder, std::string_view id);
// A type-library file is accepted and not read, as by the command.
bool create_object(Object& object, const char* id, const char* type_library = nullptr);
bool create_picture_object(ObjectHolder* holder, std::span<const uint8_t> picture);
bool create_picture_object(Object& object, const rt::Bytes& picture);

void copy_object(ObjectHolder* destination, const ObjectHolder* source);
void copy_object(Object& destination, const Object& source);
void clear_object(ObjectHolder* holder);
void clear_object(Object& object);
bool object_is_empty(const ObjectHolder* holder);
bool object_is_empty(const Object& object);

// The arguments of a member call are program values of any kind, as the member call converts
// them: a zero cell is an omitted argument, a cell with bit 29 names the caller's variable that
// a by-reference parameter writes back into. They stay the caller's.
using MemberArgs = std::span<const rt::Cell>;

// Member calls by the result wanted. Every one binds the name afresh and leaves the thread's
// error code behind; on failure the result is the empty value of its kind (a fresh empty object
// or variant value, the empty text, 0, false).
namespace member {
bool write(const ObjectHolder* object, std::string_view name, MemberArgs args);
rt::Text read_text(const ObjectHolder* object, std::string_view name, MemberArgs args = {});
double read_number(const ObjectHolder* object, std::string_view name, MemberArgs args = {});
Object read_object(const ObjectHolder* object, std::string_view name, MemberArgs args = {});
Variant read_variant(const ObjectHolder* object, std::string_view name, MemberArgs args = {});
void call(const ObjectHolder* object, std::string_view name, MemberArgs args = {});
rt::Text call_text(const ObjectHolder* object, std::string_view name, MemberArgs args = {});
Object call_object(const ObjectHolder* object, std::string_view name, MemberArgs args = {});

// C++ values as member arguments: the program value of each (rt::to_cell, or the bridge's own
// for objects and variants).
template <typename... A>
std::array<rt::Cell, sizeof...(A)> args_of(const A&... args) {
  using rt::to_cell;
  return {to_cell(args)...};
}
}  // namespace member

template <typename V>
bool write_property(const Object& object, const char* name, const V& value) {
  return member::write(object.holder(), rt::text_view(name), member::args_of(value));
}
template <typename... A>
rt::Text read_text_property(const Object& object, const char* name, const A&... args) {
  return member::read_text(object.holder(), rt::text_view(name), member::args_of(args...));
}
template <typename... A>
double read_number_property(const Object& object, const char* name, const A&... args) {
  return member::read_number(object.holder(), rt::text_view(name), member::args_of(args...));
}
template <typename... A>
Object read_object_property(const Object& object, const char* name, const A&... args) {
  return member::read_object(object.holder(), rt::text_view(name), member::args_of(args...));
}
template <typename... A>
Variant read_variant_property(const Object& object, const char* name, const A&... args) {
  return member::read_variant(object.holder(), rt::text_view(name), member::args_of(args...));
}
template <typename... A>
void call_method(const Object& object, const char* name, const A&... args) {
  member::call(object.holder(), rt::text_view(name), member::args_of(args...));
}
template <typename... A>
rt::Text call_text_method(const Object& object, const char* name, const A&... args) {
  return member::call_text(object.holder(), rt::text_view(name), member::args_of(args...));
}
template <typename... A>
Object call_object_method(const Object& object, const char* name, const A&... args) {
  return member::call_object(object.holder(), rt::text_view(name), member::args_of(args...));
}

// (variant, value, [element index]) as set_variant: the value is a program value; bit 29 marks
// an array here.
bool set_variant(automation::VARIANT* variant, const rt::Cell& value,
                 std::optional<int32_t> index = std::nullopt);
template <typename V>
bool set_variant(Variant& variant, const V& value) {
  using rt::to_cell;
  return set_variant(variant.get(), to_cell(value));
}
template <typename V>
bool set_variant_element(Variant& variant, const V& value, int32_t index) {
  using rt::to_cell;
  return set_variant(variant.get(), to_cell(value), index);
}
void assign_variant(automation::VARIANT* destination, const automation::VARIANT* source);
void assign_variant(Variant& destination, const Variant& source);
void clear_variant(automation::VARIANT* variant);
void clear_variant(Variant& variant);
rt::Text variant_to_text(const automation::VARIANT* variant);
rt::Text variant_to_text(const Variant& variant);

// UTF-16 and the program's texts, through the code-page functions of the command table.
// A string of the text's UTF-16 form; null only when the text is too long to convert.
automation::BSTR text_to_string(std::string_view text);
// A new text of the units' local form; null (the empty text) for no units.
char* string_to_text(const char16_t* units, size_t count);
// The byte length of the units' local form.
size_t local_length(const char16_t* units, size_t count);

}  // namespace bridges
