// Typed values: type codes, argument cells and the block forms of texts, byte sets and arrays.
//
// A text is a heap block of code page 936 bytes ending in one 0 byte; a byte set is a heap block
// {int32 1, int32 length, bytes}; an array is {int32 dimensions, int32 sizes..., elements} with
// texts and byte sets stored as 8-byte pointers. The null pointer is the empty text, the empty
// byte set and the empty array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace rt {

using TypeCode = uint32_t;

inline constexpr TypeCode kNoValue = 0;
inline constexpr TypeCode kByte = 0x80000101;
inline constexpr TypeCode kShort = 0x80000201;
inline constexpr TypeCode kInt = 0x80000301;
inline constexpr TypeCode kInt64 = 0x80000401;
inline constexpr TypeCode kFloat = 0x80000501;
inline constexpr TypeCode kDouble = 0x80000601;
inline constexpr TypeCode kBool = 0x80000002;
inline constexpr TypeCode kDateTime = 0x80000003;
inline constexpr TypeCode kText = 0x80000004;
inline constexpr TypeCode kBytes = 0x80000005;
inline constexpr TypeCode kSubroutine = 0x80000006;
inline constexpr TypeCode kEightByte = 0x80000008;

// Bit 29 on a basic code: the payload is the address of the storage (an array block, or the
// caller's variable for a by-reference argument).
inline constexpr TypeCode kByRef = 0x20000000;

inline constexpr TypeCode plain_code(TypeCode code) {
  return code & ~kByRef;
}
inline constexpr bool is_by_ref(TypeCode code) {
  return (code & kByRef) != 0;
}

enum class TypeClass { kNone, kBasic, kUserDefined, kLibraryDefined };

inline constexpr TypeClass type_class(TypeCode code) {
  if (code == 0)
    return TypeClass::kNone;
  switch (code >> 30) {
    case 2:
      return TypeClass::kBasic;
    case 1:
      return TypeClass::kUserDefined;
    default:
      return TypeClass::kLibraryDefined;
  }
}

// The closed set of basic kinds. Switches over it carry no default, so a new kind is named by
// the compiler everywhere it matters.
enum class BasicKind {
  Byte,
  Short,
  Int,
  Int64,
  Float,
  Double,
  Bool,
  DateTime,
  Text,
  Bytes,
  Subroutine,
  EightByte,
};

// The basic kind of a code (bit 29 ignored), or nothing for codes outside the table.
std::optional<BasicKind> basic_kind(TypeCode code);

// 1, 2, 4 or 8 for byte, short, int/float, int64/double; 0 otherwise.
size_t numeric_width(TypeCode code);
// Width of the kind in a variable or array element (pointers are 8 bytes here); 0 outside.
size_t storage_width(TypeCode code);

// Earliest and latest date-time: 0100-01-01 and 9999-12-31 in days since 1899-12-30.
inline constexpr double kMinDateTime = -657434.0;
inline constexpr double kMaxDateTime = 2958465.0;
double clamp_date_time(double days);

// A double truncated toward zero to an int as the built-in "to integer" command does it: NaN,
// the infinities and values outside the int range give 0x80000000, the processor's own answer.
int32_t truncate_to_int(double x);

// One value travelling into or out of a command: payload low word, high word, type code.
// A pointer fills both payload words.
struct Cell {
  uint32_t low = 0;
  uint32_t high = 0;
  TypeCode type = kNoValue;

  uint64_t payload() const { return (uint64_t{high} << 32) | low; }
  void set_payload(uint64_t v) {
    low = static_cast<uint32_t>(v);
    high = static_cast<uint32_t>(v >> 32);
  }
  template <typename T>
  T* pointer() const {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(payload()));
  }
  void set_pointer(const void* p) { set_payload(reinterpret_cast<uintptr_t>(p)); }
  bool given() const { return type != kNoValue; }

  int32_t as_int() const { return static_cast<int32_t>(low); }
  int64_t as_int64() const { return static_cast<int64_t>(payload()); }
  float as_float() const {
    float f;
    std::memcpy(&f, &low, sizeof f);
    return f;
  }
  double as_double() const {
    const uint64_t bits = payload();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }

  static Cell of_int(int32_t v) { return {static_cast<uint32_t>(v), 0, kInt}; }
  static Cell of_bool(bool v) { return {v ? 1u : 0u, 0, kBool}; }
  static Cell of_byte(uint8_t v) { return {v, 0, kByte}; }
  static Cell of_short(int16_t v) {
    return {static_cast<uint32_t>(static_cast<int32_t>(v)), 0, kShort};
  }
  static Cell of_int64(int64_t v) {
    Cell c{0, 0, kInt64};
    c.set_payload(static_cast<uint64_t>(v));
    return c;
  }
  static Cell of_float(float v) {
    Cell c{0, 0, kFloat};
    std::memcpy(&c.low, &v, sizeof v);
    return c;
  }
  static Cell of_double(double v, TypeCode code = kDouble) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Cell c{0, 0, code};
    c.set_payload(bits);
    return c;
  }
  static Cell of_pointer(const void* p, TypeCode code) {
    Cell c{0, 0, code};
    c.set_pointer(p);
    return c;
  }
  static Cell by_ref(void* variable, TypeCode code) { return of_pointer(variable, code | kByRef); }
};
static_assert(sizeof(Cell) == 12, "argument cells are 12 bytes, one after another");

// A unit reference: the unit's kind code as type, window id low, unit id high.
struct UnitRef {
  uint32_t window_id = 0;
  uint32_t unit_id = 0;
  TypeCode kind = 0;

  Cell cell() const { return {window_id, unit_id, kind}; }
  static UnitRef from(const Cell& c) { return {c.low, c.high, c.type}; }
};

// --- Block views (read-only, bounds-safe on null) ---

// Length of a text; 0 for null.
inline size_t text_length(const char* text) {
  return text ? std::strlen(text) : 0;
}
inline std::string_view text_view(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

inline constexpr size_t kBytesHeader = 8;

// The bytes of a byte-set block; empty for null or a negative length field.
inline std::span<const uint8_t> bytes_view(const void* block) {
  if (!block)
    return {};
  int32_t length;
  std::memcpy(&length, static_cast<const uint8_t*>(block) + 4, sizeof length);
  if (length <= 0)
    return {};
  return {static_cast<const uint8_t*>(block) + kBytesHeader, static_cast<size_t>(length)};
}

// An array block's shape. Elements begin right after the last dimension size.
struct ArrayShape {
  int32_t dimensions = 0;
  size_t element_count = 0;
  uint8_t* elements = nullptr;

  int32_t size_of(int32_t dim) const;  // 0-based dimension; 0 outside
  const void* block = nullptr;
};
ArrayShape array_shape(const void* block);

// Element i of an array of texts or byte sets (stored as pointers).
inline void* array_pointer_at(const ArrayShape& a, size_t i) {
  void* p;
  std::memcpy(&p, a.elements + i * sizeof(void*), sizeof p);
  return p;
}

}  // namespace rt
