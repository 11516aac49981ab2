#include "runtime/command.h"

namespace rt {

Cell call_command(CommandFn command, int32_t count, const Cell* args) {
  Cell result{};
  command(&result, count, args);
  return result;
}

const char* Args::text(int32_t i) const {
  const Cell& c = at(i);
  const char* p = c.given() ? c.pointer<const char>() : nullptr;
  return p ? p : "";
}

std::span<const uint8_t> Args::bytes(int32_t i) const {
  const Cell& c = at(i);
  return c.given() ? bytes_view(c.pointer<const uint8_t>()) : std::span<const uint8_t>();
}

double Args::number(int32_t i) const {
  const Cell& c = at(i);
  switch (plain_code(c.type)) {
    case kDouble:
    case kDateTime:
      return c.as_double();
    case kFloat:
      return c.as_float();
    case kInt64:
      return static_cast<double>(c.as_int64());
    case kByte:
      return static_cast<uint8_t>(c.low);
    default:
      return c.as_int();
  }
}

}  // namespace rt
