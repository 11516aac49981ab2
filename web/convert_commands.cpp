// Any value as a text or as a byte set.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "web/builtins.h"

namespace web::cmd {
namespace {

// The raw element data of an array of a numeric kind: element width times the first dimension
// size (never more than the block holds); empty for arrays of other kinds.
std::span<const uint8_t> numeric_array_data(const rt::Cell& v) {
  const size_t width = rt::numeric_width(v.type);
  if (width == 0)
    return {};
  const rt::ArrayShape shape = rt::array_shape(v.pointer<const void>());
  const auto first = static_cast<size_t>(std::max(shape.size_of(0), 0));
  return {shape.elements, width * std::min(first, shape.element_count)};
}

// memchr: a fetched page is megabytes, and a byte loop over it costs milliseconds.
std::span<const uint8_t> up_to_zero(std::span<const uint8_t> bytes) {
  const auto* zero = bytes.empty() ? nullptr : std::memchr(bytes.data(), 0, bytes.size());
  return zero ? bytes.first(static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes.data()))
              : bytes;
}

char* text_of(std::span<const uint8_t> bytes) {
  return rt::make_text(bytes.data(), bytes.size());
}

template <typename... A>
char* formatted(const char* format, A... values) {
  char buffer[96];
  const int written = std::snprintf(buffer, sizeof buffer, format, values...);
  if (written <= 0)
    return nullptr;
  return rt::make_text(buffer, std::min(static_cast<size_t>(written), sizeof buffer - 1));
}

// General number format whose exponent, when there is one, has a sign and at least three
// digits: 1e20 reads "1e+020".
char* general_number(double x, int precision) {
  char buffer[64];
  const int written = std::snprintf(buffer, sizeof buffer, "%.*g", precision, x);
  if (written <= 0)
    return nullptr;
  std::string text(buffer, std::min(static_cast<size_t>(written), sizeof buffer - 1));
  const size_t e = text.find('e');
  if (e != std::string::npos && e + 1 < text.size()) {
    const size_t digits = e + 2;  // after the sign
    const size_t count = text.size() - digits;
    if (count < 3)
      text.insert(digits, 3 - count, '0');
  }
  return rt::make_text(text);
}

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

// Proleptic Gregorian date of a day number counted from 1970-01-01.
CivilDate civil_from_days(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Days since 1899-12-30; the whole part counts days and the fraction, taken without its sign,
// is the time of day, so -1.25 is 1899-12-29 06:00.
char* date_time_text(double days) {
  days = rt::clamp_date_time(days);
  if (std::isnan(days))
    days = 0;  // no date at all reads as the epoch
  const double whole = std::trunc(days);
  auto day = static_cast<int64_t>(whole);
  auto seconds = static_cast<int64_t>(std::llround(std::fabs(days - whole) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  constexpr int64_t kEpochFromUnix = -25569;  // 1899-12-30
  const CivilDate date = civil_from_days(day + kEpochFromUnix);
  const auto hour = static_cast<int>(seconds / 3600);
  const auto minute = static_cast<int>(seconds / 60 % 60);
  const auto second = static_cast<int>(seconds % 60);

  char buffer[96];
  int written = std::snprintf(buffer, sizeof buffer, "%d年%d月%d日", static_cast<int>(date.year),
                              date.month, date.day);
  const auto rest = [&]() { return sizeof buffer - static_cast<size_t>(written); };
  if (second != 0) {
    written += std::snprintf(buffer + written, rest(), "%d时%d分%d秒", hour, minute, second);
  } else if (minute != 0) {
    written += std::snprintf(buffer + written, rest(), "%d时%d分", hour, minute);
  } else if (hour != 0) {
    written += std::snprintf(buffer + written, rest(), "%d时", hour);
  }
  return rt::make_text(buffer, static_cast<size_t>(written));
}

}  // namespace

void to_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const rt::Cell& v = args.at(0);
  if (rt::is_by_ref(v.type))
    return rt::set_text(r, text_of(up_to_zero(numeric_array_data(v))));
  const auto kind = rt::basic_kind(v.type);
  if (!kind)
    return rt::set_text(r, nullptr);
  switch (*kind) {
    case rt::BasicKind::Bytes:
      return rt::set_text(r, text_of(up_to_zero(args.bytes(0))));
    case rt::BasicKind::Text:
      return rt::set_text(r, rt::copy_text(args.text(0)));
    case rt::BasicKind::Byte:
      return rt::set_text(r, formatted("%u", static_cast<unsigned>(static_cast<uint8_t>(v.low))));
    case rt::BasicKind::Short:
      return rt::set_text(r, formatted("%d", static_cast<int>(static_cast<int16_t>(v.low))));
    case rt::BasicKind::Int:
      return rt::set_text(r, formatted("%d", static_cast<int>(v.as_int())));
    case rt::BasicKind::Int64:
      return rt::set_text(r, formatted("%lld", static_cast<long long>(v.as_int64())));
    case rt::BasicKind::Float:
      return rt::set_text(r, general_number(v.as_float(), 6));
    case rt::BasicKind::Double:
      return rt::set_text(r, general_number(v.as_double(), 13));
    case rt::BasicKind::Bool:
      return rt::set_text(r, rt::make_text(v.low != 0 ? "真" : "假"));
    case rt::BasicKind::DateTime:
      return rt::set_text(r, date_time_text(v.as_double()));
    case rt::BasicKind::Subroutine:
    case rt::BasicKind::EightByte:
      return rt::set_text(r, nullptr);
  }
}

void to_bytes(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const rt::Cell& v = args.at(0);
  std::span<const uint8_t> data;
  if (rt::is_by_ref(v.type)) {
    data = numeric_array_data(v);
  } else if (rt::plain_code(v.type) == rt::kText) {
    const std::string_view t = args.text_view(0);  // without the terminator
    data = {reinterpret_cast<const uint8_t*>(t.data()), t.size()};
  } else {
    data = rt::value_data(v);  // a byte set's data, a number's little-endian bytes
  }
  rt::set_bytes(r, rt::make_bytes(data.data(), data.size()));
}

}  // namespace web::cmd
