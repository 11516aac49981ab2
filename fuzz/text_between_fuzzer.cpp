// libFuzzer harness for text_between (web/text_between.cpp), called through its argument cells
// and checked against what its contract says, read with the plain walk of reference_text.h:
// each marker has "#引号" replaced by a double quote; the left marker is sought at character
// starts from the start position (an empty one is found at the first byte, whatever the start);
// the right marker is sought from the byte after the left one; the result is the bytes between,
// or empty when either is missing or the right marker is empty.
//
// Input: option bytes (start and case given or not, their values), a repeat count for the text,
// then text, left marker and right marker separated by zero bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"
#include "web/codepage.h"

namespace {

using namespace fuzz::reference;

constexpr std::string_view kQuoteToken = "#引号";
constexpr size_t kMaxText = 16384;

std::string with_quotes(std::string_view marker) {
  return reference_replace(marker, kQuoteToken, "\"", 0, kNone, false);
}

std::string expected(std::string_view text, std::string_view left_marker,
                     std::string_view right_marker, std::optional<int32_t> start, bool folded) {
  const std::string left = with_quotes(left_marker);
  const std::string right = with_quotes(right_marker);
  const int64_t from = start ? std::max<int64_t>(int64_t{*start} - 1, 0) : 0;
  if (static_cast<size_t>(from) >= text.size() || right.empty())
    return {};
  const size_t at =
      left.empty() ? 0 : reference_find(text, left, folded, static_cast<size_t>(from), text.size());
  if (at == kNone)
    return {};
  const size_t inside = at + left.size();
  if (inside >= text.size())
    return {};
  const size_t end = reference_find(text, right, folded, inside, text.size());
  if (end == kNone)
    return {};
  return std::string(text.substr(inside, end - inside));
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t given = in.byte();
  const int32_t start_value = in.small_int();
  const uint8_t repeat = in.byte();
  const std::optional<int32_t> start =
      given & 1 ? std::optional<int32_t>(start_value) : std::nullopt;
  // Only the value 1 searches without regard to case; 2 is read as "no".
  const std::optional<bool> folded =
      given & 2 ? std::optional<bool>((given & 4) != 0) : std::nullopt;
  const bool odd_flag = (given & 8) != 0;
  std::string text(in.field());
  const std::string left(in.field());
  const std::string right(in.field());
  const std::string once = text;
  for (uint8_t i = 0; i < (repeat & 63) && text.size() + once.size() <= kMaxText; ++i) text += once;

  const rt::Cell flag = odd_flag ? rt::Cell::of_int(2) : rt::to_cell(folded);
  const rt::Text cut = rt::call_text(&web::cmd::text_between, text.c_str(), left.c_str(),
                                     right.c_str(), rt::to_cell(start), flag);
  FF_CHECK(cut.view() == expected(text, left, right, start, !odd_flag && folded.value_or(false)));
  return 0;
}
