// Byte-set commands: cutting, zero bytes, reading typed values out of a byte set, raw memory.
#include <algorithm>
#include <cstring>

#include "runtime/fatal.h"
#include "web/builtins.h"
#include "web/byte_ops.h"

namespace web {
namespace byte_ops {
namespace {

// min(max(n, 0), limit) for a count argument.
size_t clamp_count(int64_t n, size_t limit) {
  if (n <= 0)
    return 0;
  return std::min(static_cast<size_t>(n), limit);
}

std::vector<uint8_t> owned(std::span<const uint8_t> part) {
  return {part.begin(), part.end()};
}

}  // namespace

std::span<const uint8_t> left_part(std::span<const uint8_t> bytes, int32_t count) {
  return bytes.first(clamp_count(count, bytes.size()));
}

std::span<const uint8_t> right_part(std::span<const uint8_t> bytes, int32_t count) {
  return bytes.last(clamp_count(count, bytes.size()));
}

std::span<const uint8_t> middle_part(std::span<const uint8_t> bytes, int32_t start, int32_t count) {
  const size_t offset = clamp_count(int64_t{start} - 1, bytes.size());
  const auto rest = bytes.subspan(offset);
  return rest.first(clamp_count(count, rest.size()));
}

std::vector<uint8_t> left(std::span<const uint8_t> bytes, int32_t count) {
  return owned(left_part(bytes, count));
}
std::vector<uint8_t> right(std::span<const uint8_t> bytes, int32_t count) {
  return owned(right_part(bytes, count));
}
std::vector<uint8_t> middle(std::span<const uint8_t> bytes, int32_t start, int32_t count) {
  return owned(middle_part(bytes, start, count));
}
std::vector<uint8_t> zeros(int32_t count) {
  return std::vector<uint8_t>(count > 0 ? static_cast<size_t>(count) : 0, 0);
}

}  // namespace byte_ops

namespace cmd {
namespace {

uint8_t* bytes_of(std::span<const uint8_t> s) {
  return rt::make_bytes(s.data(), s.size());
}

// The kinds read_bytes_value can produce, by their number 1 to 10.
constexpr rt::TypeCode kReadableKinds[] = {
    rt::kByte,   rt::kShort, rt::kInt,      rt::kInt64,      rt::kFloat,
    rt::kDouble, rt::kBool,  rt::kDateTime, rt::kSubroutine, rt::kText,
};

}  // namespace

void bytes_len(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_int(r, static_cast<int32_t>(rt::Args(n, a).bytes(0).size()));
}

void bytes_left(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bytes(r, bytes_of(byte_ops::left_part(args.bytes(0), args.at(1).as_int())));
}

void bytes_right(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bytes(r, bytes_of(byte_ops::right_part(args.bytes(0), args.at(1).as_int())));
}

void bytes_middle(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bytes(
      r, bytes_of(byte_ops::middle_part(args.bytes(0), args.at(1).as_int(), args.at(2).as_int())));
}

void zero_bytes(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const int32_t count = rt::Args(n, a).at(0).as_int();
  if (count <= 0)
    return rt::set_bytes(r, nullptr);
  // Made in place: a large set of zeros is not built twice.
  uint8_t* block = rt::make_bytes_uninitialised(static_cast<size_t>(count));
  std::memset(block + rt::kBytesHeader, 0, static_cast<size_t>(count));
  rt::set_bytes(r, block);
}

void read_bytes_value(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const int32_t kind = args.at(1).as_int();
  if (kind < 1 || kind > 10)
    rt::fatal_error("“欲取出数据的类型”参数值无效", 0);
  const rt::TypeCode target = kReadableKinds[kind - 1];
  const auto bytes = args.bytes(0);
  const auto length = static_cast<int64_t>(bytes.size());

  // The position arrives as the caller's int variable (written back below) or as a plain int.
  const rt::Cell& position = args.at(2);
  int32_t* variable = nullptr;
  if (position.type == (rt::kInt | rt::kByRef))
    variable = position.pointer<int32_t>();
  int64_t offset = 0;
  int64_t available = length;
  if (variable || (position.given() && !rt::is_by_ref(position.type))) {
    int32_t p = position.as_int();
    if (variable)
      std::memcpy(&p, variable, sizeof p);
    offset = int64_t{p} - 1;
    available = offset < 0 ? 0 : length - offset;
  }
  const size_t have = available > 0 ? static_cast<size_t>(available) : 0;
  const uint8_t* source = have > 0 ? bytes.data() + offset : nullptr;

  rt::Cell value{};
  size_t consumed = 0;
  if (target == rt::kText) {
    rt::value_from_bytes(target, source, have, value, &consumed);
  } else {
    // A short tail reads zero-padded, a position past the end reads as zero.
    consumed = rt::storage_width(target);
    uint8_t padded[8] = {};
    if (have < consumed) {
      if (have > 0)
        std::memcpy(padded, source, have);
      rt::value_from_bytes(target, padded, sizeof padded, value);
    } else {
      rt::value_from_bytes(target, source, have, value);
    }
  }
  *r = value;

  if (!variable)
    return;
  offset += static_cast<int64_t>(consumed);
  const int32_t next = offset >= length ? -1 : static_cast<int32_t>(offset + 1);
  std::memcpy(variable, &next, sizeof next);
}

void pointer_to_bytes(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const auto* address = args.at(0).pointer<const uint8_t>();
  const int32_t count = args.at(1).as_int();
  if (!address || count <= 0)
    return rt::set_bytes(r, nullptr);
  rt::set_bytes(r, rt::make_bytes(address, static_cast<size_t>(count)));
}

void write_memory(rt::Cell*, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const rt::Cell& v = args.at(0);
  auto* address = args.at(1).pointer<uint8_t>();
  if (!address)
    return;

  std::span<const uint8_t> data;
  if (rt::is_by_ref(v.type)) {
    if (rt::plain_code(v.type) == rt::kByte) {
      const rt::ArrayShape shape = rt::array_shape(v.pointer<const void>());
      data = {shape.elements, shape.element_count};
    }
  } else if (rt::plain_code(v.type) == rt::kText) {
    const char* t = args.text(0);  // with its terminator, also for the empty text
    data = {reinterpret_cast<const uint8_t*>(t), std::strlen(t) + 1};
  } else {
    data = rt::value_data(v);
  }
  if (args.given(2)) {
    const int32_t max = args.at(2).as_int();
    if (max >= 0 && static_cast<size_t>(max) <= data.size()) {
      data = data.first(static_cast<size_t>(max));
    }
  }
  if (!data.empty())
    std::memmove(address, data.data(), data.size());
}

}  // namespace cmd
}  // namespace web
