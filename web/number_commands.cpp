// Number commands: reading a value as int, bit operations, magnitude, whole part, sine, cosine.
#include <cmath>
#include <limits>

#include "web/builtins.h"
#include "web/text_ops.h"

namespace web::cmd {
namespace {

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

// A double truncated to int the way the processor's truncating conversion does it: values
// outside the int range and NaN give 0x80000000 rather than undefined behaviour.
int32_t truncate_to_int(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0))
    return kIntMin;
  return static_cast<int32_t>(x);
}

}  // namespace

void to_integer(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const rt::Cell& v = args.at(0);
  const auto kind = rt::basic_kind(v.type);
  if (!kind || rt::is_by_ref(v.type))
    return rt::set_int(r, 0);
  switch (*kind) {
    case rt::BasicKind::Bool:
    case rt::BasicKind::Int:
    case rt::BasicKind::Int64:
    case rt::BasicKind::Subroutine:
      return rt::set_int(r, v.as_int());
    case rt::BasicKind::Byte:
      return rt::set_int(r, static_cast<uint8_t>(v.low));
    case rt::BasicKind::Short:
      return rt::set_int(r, static_cast<int16_t>(v.low));
    case rt::BasicKind::Float:
      return rt::set_int(r, truncate_to_int(v.as_float()));
    case rt::BasicKind::Double:
      return rt::set_int(r, truncate_to_int(v.as_double()));
    case rt::BasicKind::Text:
      return rt::set_int(r, text_ops::to_integer(args.text_view(0)));
    case rt::BasicKind::DateTime:
    case rt::BasicKind::Bytes:
    case rt::BasicKind::EightByte:
      return rt::set_int(r, 0);
  }
}

void bit_and(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  uint32_t bits = args.at(0).low;
  for (int32_t i = 1; i < args.count(); ++i) bits &= args.at(i).low;
  rt::set_int(r, static_cast<int32_t>(bits));
}

void bit_or(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  uint32_t bits = 0;
  for (int32_t i = 0; i < args.count(); ++i) bits |= args.at(i).low;
  rt::set_int(r, static_cast<int32_t>(bits));
}

void absolute_value(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_double(r, std::fabs(rt::Args(n, a).number(0)));
}

void integer_part(rt::Cell* r, int32_t n, const rt::Cell* a) {
  double x = rt::Args(n, a).number(0);
  double whole = 0;
  const double fraction = std::modf(x, &whole);
  // A fraction this close to 1 is taken as rounding noise of a whole number.
  if (std::fabs(fraction) > 0.999999999999)
    x = x > 0 ? whole + 1 : whole - 1;
  rt::set_int(r, truncate_to_int(std::floor(x)));
}

void sine_of(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_double(r, std::sin(rt::Args(n, a).number(0)));
}

void cosine_of(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_double(r, std::cos(rt::Args(n, a).number(0)));
}

}  // namespace web::cmd
