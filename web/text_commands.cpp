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

  // All elements share one block: the text copied, with the byte after each element (its
  // separator's first byte, or the terminator) set to 0. The text is copied a step ahead of the
  // walk, so the zero bytes land in cache. An empty element is the null text and holds no
  // share. The array grows with the walk.
  constexpr size_t kHeader = 8;
  constexpr size_t kCopyStep = size_t{16} << 10;
  size_t capacity = 16;
  size_t count = 0;
  size_t shares = 0;
  size_t used = 0;    // the block's bytes up to the last element's zero byte
  size_t copied = 0;  // the text's bytes copied so far
  auto* array = static_cast<uint8_t*>(rt::allocate(kHeader + capacity * sizeof(char*)));
  auto* block = text.empty() ? nullptr : static_cast<char*>(rt::allocate_shared(text.size() + 1));
  walk::split_each(text, separator, limit, [&](std::string_view piece) {
    if (count == capacity) {
      capacity *= 2;
      array = static_cast<uint8_t*>(rt::reallocate(array, kHeader + capacity * sizeof(char*)));
    }
    const auto start = static_cast<size_t>(piece.data() - text.data());
    const size_t end = start + piece.size();
    char* element = nullptr;
    if (end > start) {
      if (copied <= end && copied < text.size()) {
        const size_t upto = std::min(text.size(), std::max(end + 1, copied + kCopyStep));
        std::memcpy(block + copied, text.data() + copied, upto - copied);
        copied = upto;
      }
      block[end] = 0;
      element = block + start;
      ++shares;
      used = end + 1;
    }
    std::memcpy(array + kHeader + count * sizeof(char*), &element, sizeof element);
    ++count;
  });
  if (count < capacity)
    array = static_cast<uint8_t*>(rt::reallocate(array, kHeader + count * sizeof(char*)));
  const int32_t dims = 1;
  const auto size = static_cast<int32_t>(count);
  std::memcpy(array, &dims, 4);
  std::memcpy(array + 4, &size, 4);
  // A few elements from the front of a long text (a limited count) move to a block of their
  // size, so the rest of the text is not kept.
  size_t block_size = text.size() + 1;
  if (shares > 0 && used < block_size / 2) {
    auto* fitted = static_cast<char*>(rt::allocate_shared(used));
    std::memcpy(fitted, block, used);
    for (size_t i = 0; i < count; ++i) {
      char* element;
      std::memcpy(&element, array + kHeader + i * sizeof(char*), sizeof element);
      if (element) {
        element = fitted + (element - block);
        std::memcpy(array + kHeader + i * sizeof(char*), &element, sizeof element);
      }
    }
    rt::free_block(block);
    block = fitted;
    block_size = used;
  }
  rt::share(block, block_size, shares);
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
