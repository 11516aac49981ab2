// Text commands: cutting, searching, replacing, splitting, spaces, case, comparing. Each reads
// its cells and runs text_ops (or, where it builds a new text, the same walk straight into the
// result's heap block).
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/heap.h"
#include "web/builtins.h"
#include "web/text_ops.h"
#include "web/text_walks.h"

namespace web::cmd {
namespace {

using text_ops::Case;

// The 1-based start argument at i; left out reads as 1.
int32_t start_argument(const rt::Args& args, int32_t i) {
  return args.given(i) ? args.at(i).as_int() : 1;
}

char* text_of(std::string_view s) {
  return rt::make_text(s);
}

}  // namespace

void text_left(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, text_of(text_ops::left(args.text_view(0), args.at(1).as_int())));
}

void text_right(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, text_of(text_ops::right(args.text_view(0), args.at(1).as_int())));
}

void text_middle(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(
      r, text_of(text_ops::middle(args.text_view(0), args.at(1).as_int(), args.at(2).as_int())));
}

void find_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const Case rule = args.flag_exactly_one(3) ? Case::kFoldAscii : Case::kExact;
  rt::set_int(r,
              text_ops::find(args.text_view(0), args.text_view(1), start_argument(args, 2), rule));
}

void find_text_backward(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const Case rule = args.flag_exactly_one(3) ? Case::kFoldAscii : Case::kExact;
  const std::optional<int32_t> start =
      args.given(2) ? std::optional<int32_t>(args.at(2).as_int()) : std::nullopt;
  rt::set_int(r, text_ops::find_backward(args.text_view(0), args.text_view(1), start, rule));
}

void replace_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const int32_t count = args.int_or(4, -1);
  const size_t limit = count < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(count);
  const gbk::Case rule = args.flag(5) ? gbk::Case::kExact : gbk::Case::kFoldAscii;
  rt::set_text(r, walk::replace_into<walk::HeapText>(
                      args.text_view(0), args.text_view(1), args.text_view(2),
                      walk::start_offset(start_argument(args, 3)), limit, rule));
}

void split_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view text = args.text_view(0);
  const std::string_view separator = args.given(1) ? args.text_view(1) : std::string_view(",");
  size_t limit = std::numeric_limits<size_t>::max();
  if (args.given(2))
    limit = static_cast<size_t>(std::max(args.at(2).as_int(), 0));

  // The walk records where each element ends; the array grows with it, holding those offsets
  // until the elements' block is made.
  constexpr size_t kHeader = 8;
  size_t capacity = 16;
  size_t count = 0;
  auto* array = static_cast<uint8_t*>(rt::allocate(kHeader + capacity * sizeof(char*)));
  walk::split_each(text, separator, limit, [&](std::string_view piece) {
    if (count == capacity) {
      capacity *= 2;
      array = static_cast<uint8_t*>(rt::reallocate(array, kHeader + capacity * sizeof(char*)));
    }
    const size_t end = static_cast<size_t>(piece.data() - text.data()) + piece.size();
    std::memcpy(array + kHeader + count * sizeof(char*), &end, sizeof end);
    ++count;
  });
  if (count < capacity)
    array = static_cast<uint8_t*>(rt::reallocate(array, kHeader + count * sizeof(char*)));
  const int32_t dims = 1;
  const auto size = static_cast<int32_t>(count);
  std::memcpy(array, &dims, 4);
  std::memcpy(array + 4, &size, 4);

  // All elements share one block: the text up to the end of the last element, copied, with
  // the byte after each element (its separator's first byte, or the added last byte) set to 0.
  // An empty element is the null text and holds no share.
  uint8_t* elements = array + kHeader;
  size_t last_end = 0;
  if (count > 0)
    std::memcpy(&last_end, elements + (count - 1) * sizeof(char*), sizeof last_end);
  char* block = count > 0 ? static_cast<char*>(rt::allocate_shared(last_end + 1)) : nullptr;
  if (block)
    std::memcpy(block, text.data(), last_end);
  size_t start = 0;
  size_t shares = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t end;
    std::memcpy(&end, elements + i * sizeof(char*), sizeof end);
    char* element = nullptr;
    if (end > start) {
      element = block + start;
      block[end] = 0;
      ++shares;
    }
    std::memcpy(elements + i * sizeof(char*), &element, sizeof element);
    start = end + separator.size();
  }
  rt::share(block, last_end + 1, shares);
  rt::set_array(r, array, rt::kText);
}

void trim_both_ends(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_text(r, text_of(walk::trimmed(rt::Args(n, a).text_view(0))));
}

void remove_spaces(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_text(r, walk::remove_spaces_into<walk::HeapText>(rt::Args(n, a).text_view(0)));
}

void to_lower_case(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_text(r, walk::lower_case_into<walk::HeapText>(rt::Args(n, a).text_view(0)));
}

void spaces_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_text(r, walk::spaces_into<walk::HeapText>(rt::Args(n, a).at(0).as_int()));
}

void char_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const auto code = static_cast<uint8_t>(rt::Args(n, a).at(0).low);
  rt::set_text(r, rt::make_text(&code, code == 0 ? 0 : 1));
}

void copy_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_text(r, rt::copy_text(rt::Args(n, a).text(0)));
}

void compare_texts(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const Case rule = args.flag(2) ? Case::kExact : Case::kFoldAscii;
  rt::set_int(r, text_ops::compare(args.text_view(0), args.text_view(1), rule));
}

void hex_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_text(r, text_of(text_ops::hex(static_cast<int32_t>(rt::Args(n, a).at(0).low))));
}

void text_len(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_int(r, static_cast<int32_t>(rt::Args(n, a).text_view(0).size()));
}

}  // namespace web::cmd
