#include "runtime/values.h"

#include <cstring>
#include <limits>

namespace rt {

std::optional<BasicKind> basic_kind(TypeCode code) {
  switch (plain_code(code)) {
    case kByte:
      return BasicKind::Byte;
    case kShort:
      return BasicKind::Short;
    case kInt:
      return BasicKind::Int;
    case kInt64:
      return BasicKind::Int64;
    case kFloat:
      return BasicKind::Float;
    case kDouble:
      return BasicKind::Double;
    case kBool:
      return BasicKind::Bool;
    case kDateTime:
      return BasicKind::DateTime;
    case kText:
      return BasicKind::Text;
    case kBytes:
      return BasicKind::Bytes;
    case kSubroutine:
      return BasicKind::Subroutine;
    case kEightByte:
      return BasicKind::EightByte;
    default:
      return std::nullopt;  // codes are open-ended; the kinds are not
  }
}

size_t numeric_width(TypeCode code) {
  const auto kind = basic_kind(code);
  if (!kind)
    return 0;
  switch (*kind) {
    case BasicKind::Byte:
      return 1;
    case BasicKind::Short:
      return 2;
    case BasicKind::Int:
    case BasicKind::Float:
      return 4;
    case BasicKind::Int64:
    case BasicKind::Double:
      return 8;
    case BasicKind::Bool:
    case BasicKind::DateTime:
    case BasicKind::Text:
    case BasicKind::Bytes:
    case BasicKind::Subroutine:
    case BasicKind::EightByte:
      return 0;
  }
  return 0;
}

size_t storage_width(TypeCode code) {
  const auto kind = basic_kind(code);
  if (!kind)
    return 0;
  switch (*kind) {
    case BasicKind::Byte:
      return 1;
    case BasicKind::Short:
      return 2;
    case BasicKind::Int:
    case BasicKind::Float:
    case BasicKind::Bool:
      return 4;
    case BasicKind::Int64:
    case BasicKind::Double:
    case BasicKind::DateTime:
    case BasicKind::EightByte:
      return 8;
    // Pointers and routine addresses fill a whole 8-byte payload on this platform.
    case BasicKind::Text:
    case BasicKind::Bytes:
    case BasicKind::Subroutine:
      return sizeof(void*);
  }
  return 0;
}

double clamp_date_time(double days) {
  if (days > kMaxDateTime)
    return kMaxDateTime;
  if (days < kMinDateTime)
    return kMinDateTime;
  return days;  // NaN passes through unchanged, as the comparison rule gives
}

int32_t truncate_to_int(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0))
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(x);
}

int32_t ArrayShape::size_of(int32_t dim) const {
  if (!block || dim < 0 || dim >= dimensions)
    return 0;
  int32_t size;
  std::memcpy(&size, static_cast<const uint8_t*>(block) + 4 + 4 * static_cast<size_t>(dim), 4);
  return size;
}

ArrayShape array_shape(const void* block) {
  ArrayShape shape;
  if (!block)
    return shape;
  const auto* base = static_cast<const uint8_t*>(block);
  int32_t dims;
  std::memcpy(&dims, base, 4);
  if (dims < 0)
    dims = 0;
  shape.block = block;
  shape.dimensions = dims;
  size_t count = dims == 0 ? 0 : 1;
  for (int32_t d = 0; d < dims; ++d) {
    int32_t size;
    std::memcpy(&size, base + 4 + 4 * static_cast<size_t>(d), 4);
    if (size <= 0) {
      count = 0;
      continue;
    }
    if (count > std::numeric_limits<size_t>::max() / static_cast<size_t>(size))
      count = 0;
    count *= static_cast<size_t>(size);
  }
  shape.element_count = count;
  shape.elements = const_cast<uint8_t*>(base) + 4 + 4 * static_cast<size_t>(dims);
  return shape;
}

char* make_text(const void* bytes, size_t n) {
  if (n < 1)
    return nullptr;
  auto* p = static_cast<char*>(allocate(n + 1));
  std::memcpy(p, bytes, n);
  p[n] = 0;
  return p;
}

char* copy_text(const char* source) {
  if (!source || !*source)
    return nullptr;
  return make_text(source, std::strlen(source));
}

uint8_t* make_bytes_uninitialised(size_t n) {
  if (n == 0)
    return nullptr;
  const int32_t marker = 1;
  const auto length = static_cast<int32_t>(n);
  auto* block = static_cast<uint8_t*>(allocate(kBytesHeader + n));
  std::memcpy(block, &marker, 4);
  std::memcpy(block + 4, &length, 4);
  return block;
}

uint8_t* make_bytes(const void* bytes, size_t n) {
  uint8_t* block = make_bytes_uninitialised(n);
  if (block)
    std::memcpy(block + kBytesHeader, bytes, n);
  return block;
}

void* make_pointer_array(size_t n) {
  const int32_t dims = 1;
  const auto count = static_cast<int32_t>(n);
  auto* block = static_cast<uint8_t*>(allocate(8 + n * sizeof(void*)));
  std::memcpy(block, &dims, 4);
  std::memcpy(block + 4, &count, 4);
  std::memset(block + 8, 0, n * sizeof(void*));
  return block;
}

void release_array(void* block, TypeCode element_code) {
  if (!block)
    return;
  const TypeCode element = plain_code(element_code);
  if (element == kText || element == kBytes) {
    const ArrayShape shape = array_shape(block);
    free_pointers(shape.elements, shape.element_count);
  }
  free_block(block);
}

void make_writable(void** variable, size_t element_width) {
  if (!variable || !*variable || !in_constant_area(*variable))
    return;
  const ArrayShape shape = array_shape(*variable);
  const size_t size =
      4 + 4 * static_cast<size_t>(shape.dimensions) + element_width * shape.element_count;
  if (size == 0)
    return;
  void* copy = allocate(size);
  std::memcpy(copy, *variable, size);
  *variable = copy;
}

const char* Array::text_at(size_t i) const {
  const ArrayShape s = shape();
  if (i >= s.element_count)
    return nullptr;
  return static_cast<const char*>(array_pointer_at(s, i));
}

std::span<const uint8_t> value_data(const Cell& value) {
  const auto kind = basic_kind(value.type);
  if (!kind || is_by_ref(value.type))
    return {};
  const auto* payload = reinterpret_cast<const uint8_t*>(&value.low);
  switch (*kind) {
    case BasicKind::Byte:
      return {payload, 1};
    case BasicKind::Short:
      return {payload, 2};
    case BasicKind::Int:
    case BasicKind::Float:
    case BasicKind::Bool:
      return {payload, 4};
    case BasicKind::Subroutine:
    case BasicKind::Int64:
    case BasicKind::Double:
    case BasicKind::DateTime:
    case BasicKind::EightByte:
      return {payload, 8};
    case BasicKind::Text: {
      const char* text = value.pointer<const char>();
      if (!text)
        return {};
      return {reinterpret_cast<const uint8_t*>(text), std::strlen(text) + 1};
    }
    case BasicKind::Bytes:
      return bytes_view(value.pointer<const uint8_t>());
  }
  return {};
}

bool value_from_bytes(TypeCode target, const uint8_t* bytes, size_t count, Cell& out,
                      size_t* consumed) {
  const auto kind = basic_kind(target);
  if (!kind)
    return false;
  Cell cell{0, 0, plain_code(target)};
  uint64_t raw = 0;
  const size_t width = std::min(storage_width(target), count);
  if (bytes && width > 0)
    std::memcpy(&raw, bytes, std::min<size_t>(width, 8));
  switch (*kind) {
    case BasicKind::Bool:
      cell.low = static_cast<uint32_t>(raw) != 0 ? 1 : 0;
      break;
    case BasicKind::DateTime: {
      double days;
      std::memcpy(&days, &raw, sizeof days);
      cell = Cell::of_double(clamp_date_time(days), kDateTime);
      break;
    }
    case BasicKind::Text: {
      if (!bytes || count == 0) {
        if (consumed)
          *consumed = 0;
        break;
      }
      const void* zero = std::memchr(bytes, 0, count);
      const size_t length =
          zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes) : count;
      cell.set_pointer(make_text(bytes, length));
      if (consumed)
        *consumed = zero ? length + 1 : count;
      break;
    }
    case BasicKind::Bytes:
      cell.set_pointer(bytes ? make_bytes(bytes, count) : nullptr);
      break;
    case BasicKind::Byte:
      cell.low = static_cast<uint8_t>(raw);
      break;
    case BasicKind::Short:
      cell.low = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(raw)));
      break;
    case BasicKind::Int:
    case BasicKind::Float:
      cell.low = static_cast<uint32_t>(raw);
      break;
    case BasicKind::Subroutine:
    case BasicKind::Int64:
    case BasicKind::Double:
    case BasicKind::EightByte:
      cell.set_payload(raw);
      break;
  }
  out = cell;
  return true;
}

}  // namespace rt
