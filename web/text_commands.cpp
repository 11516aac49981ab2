// Text commands: cutting, searching, replacing, splitting, spaces, case, comparing.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "runtime/heap.h"
#include "web/builtins.h"
#include "web/gbk_walk.h"

namespace web::cmd {
namespace {

using gbk::Case;
using gbk::Finder;
using gbk::npos;

int32_t position_result(size_t offset) {
  return offset == npos ? -1 : static_cast<int32_t>(offset + 1);
}

// The byte offset a 1-based start argument points at: max(start - 1, 0), 0 when left out.
size_t start_offset(const rt::Args& args, int32_t i) {
  if (!args.given(i)) return 0;
  const int64_t offset = int64_t{args.at(i).as_int()} - 1;
  return offset > 0 ? static_cast<size_t>(offset) : 0;
}

// A text result built in one block; empty results become null.
class TextBuilder {
 public:
  explicit TextBuilder(size_t capacity)
      : data_(static_cast<uint8_t*>(rt::allocate(capacity + 1))), capacity_(capacity) {}
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;
  ~TextBuilder() { rt::free_block(data_); }

  uint8_t* cursor() { return data_ + size_; }
  void advance(size_t n) { size_ += n; }
  // Appends, growing the block by half again when it is full (large blocks move by remapping).
  void append(std::string_view s) {
    if (s.empty()) return;
    if (s.size() > capacity_ - size_) {
      capacity_ = std::max(size_ + s.size(), capacity_ + capacity_ / 2);
      data_ = static_cast<uint8_t*>(rt::reallocate(data_, capacity_ + 1));
    }
    std::memcpy(data_ + size_, s.data(), s.size());
    size_ += s.size();
  }

  char* finish() {
    if (size_ == 0) return nullptr;
    data_[size_] = 0;
    return reinterpret_cast<char*>(std::exchange(data_, nullptr));
  }

 private:
  uint8_t* data_;
  size_t capacity_;
  size_t size_ = 0;
};

}  // namespace

void text_left(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const int32_t count = args.at(1).as_int();
  if (count <= 0) return rt::set_text(r, nullptr);
  rt::set_text(r, rt::make_text(t.substr(0, static_cast<size_t>(count))));
}

void text_right(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const int32_t count = args.at(1).as_int();
  if (count <= 0) return rt::set_text(r, nullptr);
  const size_t take = std::min(t.size(), static_cast<size_t>(count));
  rt::set_text(r, rt::make_text(t.substr(t.size() - take)));
}

void text_middle(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const int32_t start = args.at(1).as_int();
  const int32_t count = args.at(2).as_int();
  if (count <= 0 || start < 1 || static_cast<size_t>(start) > t.size()) {
    return rt::set_text(r, nullptr);
  }
  const auto offset = static_cast<size_t>(start) - 1;
  rt::set_text(r, rt::make_text(t.substr(offset, static_cast<size_t>(count))));
}

void find_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const std::string_view sought = args.text_view(1);
  const size_t from = start_offset(args, 2);
  const Case rule = args.flag_exactly_one(3) ? Case::kFoldAscii : Case::kExact;
  if (from >= t.size()) return rt::set_int(r, -1);
  if (sought.empty()) return rt::set_int(r, 1);  // whatever the start
  Finder finder(t, sought, rule, t.size());
  rt::set_int(r, position_result(finder.find(from, from)));
}

void find_text_backward(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const std::string_view sought = args.text_view(1);
  const Case rule = args.flag_exactly_one(3) ? Case::kFoldAscii : Case::kExact;
  // Only occurrences that end before the start position count.
  const size_t range = args.given(2) ? std::min(start_offset(args, 2), t.size()) : t.size();
  if (sought.empty()) return rt::set_int(r, range > 0 ? 1 : -1);

  Finder finder(t, sought, rule, range);
  size_t last = npos;
  for (size_t q = finder.find(0, 0); q != npos; q = finder.find(q + 1, q)) last = q;
  rt::set_int(r, position_result(last));
}

void replace_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const std::string_view sought = args.text_view(1);
  const std::string_view replacement = args.text_view(2);
  const size_t from = start_offset(args, 3);
  const int32_t count = args.int_or(4, -1);
  const Case rule = args.flag(5) ? Case::kExact : Case::kFoldAscii;
  if (t.empty() || sought.empty() || from >= t.size() || count == 0) {
    return rt::set_text(r, rt::make_text(t));
  }
  const size_t limit = count < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(count);

  // The walk resumes right after each replaced occurrence, so what was emitted is never
  // searched again and occurrences never overlap.
  Finder finder(t, sought, rule, t.size());
  size_t pos = from;
  size_t q = finder.find(pos, pos);
  if (q == npos) return rt::set_text(r, rt::make_text(t));
  TextBuilder out(t.size());
  out.append(t.substr(0, from));
  for (size_t done = 0; q != npos;) {
    out.append(t.substr(pos, q - pos));
    out.append(replacement);
    pos = q + sought.size();
    q = ++done < limit ? finder.find(pos, pos) : npos;
  }
  out.append(t.substr(pos));
  rt::set_text(r, out.finish());
}

void split_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const std::string_view separator = args.given(1) ? args.text_view(1) : std::string_view(",");
  size_t limit = std::numeric_limits<size_t>::max();
  if (args.given(2)) limit = static_cast<size_t>(std::max(args.at(2).as_int(), 0));
  if (t.empty()) limit = 0;

  // The elements are made as the walk finds them; the array is made at its final size after.
  std::vector<char*> elements;
  const auto add = [&](std::string_view piece) { elements.push_back(rt::make_text(piece)); };
  size_t pos = 0;
  if (!separator.empty()) {
    Finder finder(t, separator, Case::kExact, t.size());
    while (elements.size() < limit) {
      const size_t q = finder.find(pos, pos);
      if (q == npos) break;
      add(t.substr(pos, q - pos));
      pos = q + separator.size();
    }
  }
  if (pos < t.size() && elements.size() < limit) add(t.substr(pos));

  void* block = rt::make_pointer_array(elements.size());
  if (!elements.empty()) {
    std::memcpy(rt::array_shape(block).elements, elements.data(), elements.size() * sizeof(char*));
  }
  rt::set_array(r, block, rt::kText);
}

void trim_both_ends(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const uint8_t* p = gbk::bytes_of(t);
  const size_t length = t.size();

  size_t i = 0;
  while (i < length) {
    if (p[i] == ' ') {
      ++i;
    } else if (i + 1 < length && gbk::is_wide_space(p[i], p[i + 1])) {
      i += 2;
    } else {
      break;
    }
  }
  const size_t start = i;
  size_t end = start;  // just past the last character that is not a space
  while (i < length) {
    if (i + 8 <= length) {
      const uint64_t w = gbk::load_word(p + i);
      if ((w & gbk::kHighBits) == 0 && !gbk::word_has_byte(w, ' ')) {
        i += 8;
        end = i;
        continue;
      }
    }
    if (!gbk::is_lead(p[i])) {
      if (p[i] != ' ') end = i + 1;
      ++i;
      continue;
    }
    if (i + 1 == length) break;  // a lone lead byte at the end goes with the spaces
    if (!gbk::is_wide_space(p[i], p[i + 1])) end = i + 2;
    i += 2;
  }
  rt::set_text(r, rt::make_text(t.substr(start, end - start)));
}

void remove_spaces(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const uint8_t* p = gbk::bytes_of(t);
  const size_t length = t.size();
  TextBuilder out(length);
  uint8_t* const begin = out.cursor();
  uint8_t* o = begin;  // a local cursor, so byte stores cannot be taken to touch the builder

  size_t i = 0;
  while (i < length) {
    if (i + 8 <= length) {
      const uint64_t w = gbk::load_word(p + i);
      if ((w & gbk::kHighBits) == 0) {
        if (!gbk::word_has_byte(w, ' ')) {
          gbk::store_word(o, w);
          o += 8;
        } else {
          for (size_t k = 0; k < 8; ++k) {  // branch-free: write each byte, keep the non-spaces
            *o = p[i + k];
            o += p[i + k] != ' ' ? 1 : 0;
          }
        }
        i += 8;
        continue;
      }
    }
    const uint8_t b = p[i];
    if (!gbk::is_lead(b)) {
      *o = b;
      o += b != ' ' ? 1 : 0;
      ++i;
    } else if (i + 1 == length) {
      *o++ = b;  // a lone lead byte at the end ends the walk; it is kept as it is
      ++i;
    } else {
      o[0] = b;
      o[1] = p[i + 1];
      o += gbk::is_wide_space(b, p[i + 1]) ? 0 : 2;
      i += 2;
    }
  }
  out.advance(static_cast<size_t>(o - begin));
  rt::set_text(r, out.finish());
}

void to_lower_case(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const std::string_view t = args.text_view(0);
  const uint8_t* p = gbk::bytes_of(t);
  const size_t length = t.size();
  TextBuilder out(length);
  uint8_t* o = out.cursor();  // same length as the text, so the offsets match

  size_t i = 0;
  while (i < length) {
    if (i + 8 <= length) {
      const uint64_t w = gbk::load_word(p + i);
      if ((w & gbk::kHighBits) == 0) {
        // Per byte: high bit of b + 0x3F is set from 'A' on, of b + 0x25 from '[' on.
        const uint64_t from_a = w + 0x3F3F3F3F3F3F3F3Full;
        const uint64_t past_z = w + 0x2525252525252525ull;
        const uint64_t upper = from_a & ~past_z & gbk::kHighBits;
        gbk::store_word(o + i, w | (upper >> 2));
        i += 8;
        continue;
      }
    }
    const uint8_t b = p[i];
    if (!gbk::is_lead(b)) {
      o[i++] = gbk::fold_ascii(b);
      continue;
    }
    o[i] = b;
    if (i + 1 < length) o[i + 1] = p[i + 1];  // the trail byte is never changed
    i += 2;
  }
  out.advance(length);
  rt::set_text(r, out.finish());
}

void spaces_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const int32_t count = rt::Args(n, a).at(0).as_int();
  if (count < 1) return rt::set_text(r, nullptr);
  TextBuilder out(static_cast<size_t>(count));
  std::memset(out.cursor(), ' ', static_cast<size_t>(count));
  out.advance(static_cast<size_t>(count));
  rt::set_text(r, out.finish());
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
  const bool fold = !args.flag(2);
  // One character as a number: a double-byte character is lead * 256 + trail, so it sorts
  // after every single byte; a lone lead byte at the end reads as the end.
  const auto next_char = [fold](const uint8_t*& p) -> uint32_t {
    const uint8_t b = *p;
    if (b == 0) return 0;
    ++p;
    if (!gbk::is_lead(b)) return fold ? gbk::fold_ascii(b) : b;
    if (*p == 0) return 0;
    return (uint32_t{b} << 8) | *p++;
  };
  const auto* x = reinterpret_cast<const uint8_t*>(args.text(0));
  const auto* y = reinterpret_cast<const uint8_t*>(args.text(1));
  for (;;) {
    const uint32_t cx = next_char(x);
    const uint32_t cy = next_char(y);
    if (cx != cy) return rt::set_int(r, cx < cy ? -1 : 1);
    if (cx == 0) return rt::set_int(r, 0);
  }
}

void hex_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  char digits[16];
  const int written = std::snprintf(digits, sizeof digits, "%X", rt::Args(n, a).at(0).low);
  rt::set_text(r, rt::make_text(digits, static_cast<size_t>(written)));
}

void text_len(rt::Cell* r, int32_t n, const rt::Cell* a) {
  rt::set_int(r, static_cast<int32_t>(rt::Args(n, a).text_view(0).size()));
}

}  // namespace web::cmd
