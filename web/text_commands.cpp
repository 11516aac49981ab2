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
  const std::string_view separator = args.given(1) ? args.text_view(1) : std::string_view(",");
  size_t limit = std::numeric_limits<size_t>::max();
  if (args.given(2))
    limit = static_cast<size_t>(std::max(args.at(2).as_int(), 0));

  // The elements are made as the walk finds them; the array is made at its final size after.
  std::vector<char*> elements;
  walk::split_each(args.text_view(0), separator, limit,
                   [&elements](std::string_view piece) { elements.push_back(text_of(piece)); });
  void* block = rt::make_pointer_array(elements.size());
  if (!elements.empty()) {
    std::memcpy(rt::array_shape(block).elements, elements.data(), elements.size() * sizeof(char*));
  }
  rt::set_array(r, block, rt::kText);
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
