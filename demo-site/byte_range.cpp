#include "demo-site/byte_range.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace demo_site {
namespace {

constexpr std::string_view kUnit = "bytes";

// Digits only, no sign or spaces; nothing for the empty text or a value past 64 bits.
std::optional<uint64_t> parse_offset(std::string_view text) {
  if (text.empty())
    return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

bool same_folded(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

ByteRange answer(RangeAnswer kind) {
  return {kind, 0, 0};
}

}  // namespace

ByteRange byte_range_for(std::string_view header, uint64_t size) {
  if (header.empty())
    return answer(RangeAnswer::whole);
  const size_t equals = header.find('=');
  if (equals == std::string_view::npos)
    return answer(RangeAnswer::malformed);
  if (!same_folded(header.substr(0, equals), kUnit))
    return answer(RangeAnswer::other_unit);
  const std::string_view ranges = header.substr(equals + 1);
  if (ranges.find(',') != std::string_view::npos)
    return answer(RangeAnswer::several_ranges);
  const size_t dash = ranges.find('-');
  if (dash == std::string_view::npos)
    return answer(RangeAnswer::malformed);
  const std::string_view first_text = ranges.substr(0, dash);
  const std::string_view last_text = ranges.substr(dash + 1);

  if (first_text.empty()) {
    // The last n bytes: all of a shorter file, none of them "-0".
    const std::optional<uint64_t> suffix = parse_offset(last_text);
    if (!suffix)
      return answer(RangeAnswer::malformed);
    if (*suffix == 0 || size == 0)
      return answer(RangeAnswer::past_end);
    const uint64_t length = std::min(*suffix, size);
    return {RangeAnswer::part, size - length, length};
  }

  const std::optional<uint64_t> first = parse_offset(first_text);
  if (!first)
    return answer(RangeAnswer::malformed);
  uint64_t last = UINT64_MAX;
  if (!last_text.empty()) {
    const std::optional<uint64_t> parsed = parse_offset(last_text);
    if (!parsed || *parsed < *first)
      return answer(RangeAnswer::malformed);
    last = *parsed;
  }
  if (*first >= size)
    return answer(RangeAnswer::past_end);
  last = std::min(last, size - 1);
  return {RangeAnswer::part, *first, last - *first + 1};
}

}  // namespace demo_site
