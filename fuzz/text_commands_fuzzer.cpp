// libFuzzer harness for the text commands over the GBK walk (web/gbk_walk.cpp,
// web/text_commands.cpp): each command is called through its argument cells and checked against
// a plain reference written here, which walks the text one character at a time and compares
// byte by byte. The finder's fast paths (SSE pairs, memchr, the prefix table it switches to on
// periodic texts) must all answer what the reference answers.
//
// Input: option bytes (which optional arguments are given; start, count), a repeat count for the
// text (periodic texts reach the prefix table), then text, sought text and replacement
// separated by zero bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"
#include "runtime/command.h"
#include "web/builtins.h"
#include "web/commands.h"

namespace {

using namespace fuzz::reference;

constexpr size_t kMaxText = 16384;

int32_t position(size_t offset) {
  return offset == kNone ? -1 : static_cast<int32_t>(offset + 1);
}

struct Options {
  std::optional<int32_t> start;
  std::optional<int32_t> count;
  std::optional<int32_t> flag;  // the case argument's raw value
  bool separator_given = false;
};

rt::Cell cell_of(const std::optional<int32_t>& v) {
  return v ? rt::Cell::of_int(*v) : rt::Cell{};
}

size_t start_offset(const std::optional<int32_t>& start) {
  if (!start)
    return 0;
  const int64_t offset = int64_t{*start} - 1;
  return offset > 0 ? static_cast<size_t>(offset) : 0;
}

int32_t reference_find_text(std::string_view t, std::string_view sought, const Options& o) {
  const size_t from = start_offset(o.start);
  if (from >= t.size())
    return -1;
  if (sought.empty())
    return 1;
  return position(reference_find(t, sought, o.flag == 1, from, t.size()));
}

// The last match at a character start of the walk from 0 that ends at or before the start.
int32_t reference_find_backward(std::string_view t, std::string_view sought, const Options& o) {
  const size_t range = o.start ? std::min(start_offset(o.start), t.size()) : t.size();
  if (sought.empty())
    return range > 0 ? 1 : -1;
  size_t last = kNone;
  for (size_t q = 0; q < t.size(); q += is_lead(t[q]) ? 2 : 1) {
    if (is_lead(t[q]) && q + 1 == t.size())
      break;
    if (q + sought.size() <= range && matches_at(t, q, sought, o.flag == 1))
      last = q;
  }
  return position(last);
}

std::string expected_replace(std::string_view t, std::string_view sought,
                             std::string_view replacement, const Options& o) {
  const size_t from = start_offset(o.start);
  const int32_t count = o.count.value_or(-1);
  const bool folded = !(o.flag && *o.flag != 0);
  if (t.empty() || sought.empty() || from >= t.size() || count == 0)
    return std::string(t);
  const size_t limit = count < 0 ? kNone : static_cast<size_t>(count);
  return reference_replace(t, sought, replacement, from, limit, folded);
}

std::vector<std::string> reference_split(std::string_view t, std::string_view separator,
                                         const Options& o) {
  size_t limit = o.count ? static_cast<size_t>(std::max(*o.count, 0)) : kNone;
  if (t.empty())
    limit = 0;
  std::vector<std::string> parts;
  size_t pos = 0;
  while (!separator.empty() && parts.size() < limit) {
    const size_t q = reference_find(t, separator, false, pos, t.size());
    if (q == kNone)
      break;
    parts.emplace_back(t.substr(pos, q - pos));
    pos = q + separator.size();
  }
  if (pos < t.size() && parts.size() < limit)
    parts.emplace_back(t.substr(pos));
  return parts;
}

std::string reference_lower(std::string_view t) {
  std::string out(t);
  for (size_t i = 0; i < out.size();) {
    if (is_lead(out[i])) {
      i += 2;  // the trail byte is never changed
    } else {
      out[i] = fold(out[i]);
      ++i;
    }
  }
  return out;
}

// Characters as numbers (a double-byte one as lead * 256 + trail), ending in 0.
std::vector<uint32_t> character_numbers(std::string_view t, bool folded) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < t.size();) {
    const auto b = static_cast<uint8_t>(t[i]);
    if (b < 0x80) {
      out.push_back(static_cast<uint8_t>(folded ? fold(t[i]) : t[i]));
      ++i;
    } else if (i + 1 == t.size()) {
      break;
    } else {
      out.push_back(uint32_t{b} << 8 | static_cast<uint8_t>(t[i + 1]));
      i += 2;
    }
  }
  out.push_back(0);
  return out;
}

int32_t reference_compare(std::string_view a, std::string_view b, const Options& o) {
  const bool folded = !(o.flag && *o.flag != 0);
  const std::vector<uint32_t> x = character_numbers(a, folded);
  const std::vector<uint32_t> y = character_numbers(b, folded);
  for (size_t i = 0;; ++i) {
    if (x[i] != y[i])
      return x[i] < y[i] ? -1 : 1;
    if (x[i] == 0)
      return 0;
  }
}

int32_t sign(int32_t v) {
  return v < 0 ? -1 : v > 0 ? 1 : 0;
}

std::string_view reference_left(std::string_view t, int32_t count) {
  return count <= 0 ? std::string_view() : t.substr(0, static_cast<size_t>(count));
}

std::string_view reference_right(std::string_view t, int32_t count) {
  if (count <= 0)
    return {};
  return t.substr(t.size() - std::min(t.size(), static_cast<size_t>(count)));
}

std::string_view reference_middle(std::string_view t, int32_t start, int32_t count) {
  if (count <= 0 || start < 1 || static_cast<size_t>(start) > t.size())
    return {};
  return t.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(count));
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace web::cmd;
  fuzz::Input in(data, size);
  const uint8_t given = in.byte();
  Options o;
  const int32_t start = in.small_int();
  const int32_t count = in.small_int();
  const uint8_t repeat = in.byte();
  if (given & 1)
    o.start = start;
  if (given & 2)
    o.count = count;
  if (given & 4)
    o.flag = (given >> 5) & 3;  // 0 to 3: only 1 folds for the searches
  o.separator_given = (given & 8) != 0;
  std::string text(in.field());
  const std::string sought(in.field());
  const std::string replacement(in.field());
  const std::string once = text;
  for (uint8_t i = 0; i < (repeat & 63) && text.size() + once.size() <= kMaxText; ++i) text += once;
  const char* t = text.c_str();
  const rt::Cell start_cell = cell_of(o.start);
  const rt::Cell count_cell = cell_of(o.count);
  const rt::Cell flag_cell = cell_of(o.flag);

  FF_CHECK(rt::call_int(&find_text, t, sought.c_str(), start_cell, flag_cell) ==
           reference_find_text(text, sought, o));
  FF_CHECK(rt::call_int(&find_text_backward, t, sought.c_str(), start_cell, flag_cell) ==
           reference_find_backward(text, sought, o));
  FF_CHECK(rt::call_text(&replace_text, t, sought.c_str(), replacement.c_str(), start_cell,
                         count_cell, flag_cell)
               .view() == expected_replace(text, sought, replacement, o));

  const rt::Cell separator = o.separator_given ? rt::to_cell(sought.c_str()) : rt::Cell{};
  const rt::Array parts = rt::call_array(&split_text, rt::kText, t, separator, count_cell);
  const std::vector<std::string> expected =
      reference_split(text, o.separator_given ? std::string_view(sought) : ",", o);
  FF_CHECK(parts.size() == expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    FF_CHECK(rt::text_view(parts.text_at(i)) == expected[i]);
  }

  FF_CHECK(rt::call_text(&trim_both_ends, t).view() == reference_trim(text));
  FF_CHECK(rt::call_text(&remove_spaces, t).view() == reference_remove_spaces(text));
  FF_CHECK(rt::call_text(&to_lower_case, t).view() == reference_lower(text));
  FF_CHECK(sign(rt::call_int(&compare_texts, t, sought.c_str(), flag_cell)) ==
           reference_compare(text, sought, o));
  FF_CHECK(rt::call_int(&text_len, t) == static_cast<int32_t>(text.size()));

  FF_CHECK(rt::call_text(&text_left, t, count).view() == reference_left(text, count));
  FF_CHECK(rt::call_text(&text_right, t, count).view() == reference_right(text, count));
  FF_CHECK(rt::call_text(&text_middle, t, start, count).view() ==
           reference_middle(text, start, count));
  return 0;
}
