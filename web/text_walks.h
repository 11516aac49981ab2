// The walks behind the text commands and text_ops, written once. A walk that builds a new text
// writes into an output: a heap text block for a command's result (no copy on the way out of a
// command over a page of megabytes), or a std::string for C++ callers. Internal to web/.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/heap.h"
#include "web/gbk_walk.h"

namespace web::walk {

using gbk::npos;

// The byte offset a 1-based start points at: max(start - 1, 0).
inline size_t start_offset(int64_t start) {
  const int64_t offset = start - 1;
  return offset > 0 ? static_cast<size_t>(offset) : 0;
}

inline int32_t position_result(size_t offset) {
  return offset == npos ? -1 : static_cast<int32_t>(offset + 1);
}

// A text result built in one heap block; the empty result is null.
class HeapText {
 public:
  explicit HeapText(size_t capacity)
      : data_(static_cast<uint8_t*>(rt::allocate(capacity + 1))), capacity_(capacity) {}
  HeapText(const HeapText&) = delete;
  HeapText& operator=(const HeapText&) = delete;
  ~HeapText() { rt::free_block(data_); }

  // Room for the capacity asked for at construction, from the current end.
  uint8_t* cursor() { return data_ + size_; }
  void advance(size_t n) { size_ += n; }
  // Appends, growing the block by half again when it is full (large blocks move by remapping).
  void append(std::string_view s) {
    if (s.empty())
      return;
    if (s.size() > capacity_ - size_) {
      capacity_ = std::max(size_ + s.size(), capacity_ + capacity_ / 2);
      data_ = static_cast<uint8_t*>(rt::reallocate(data_, capacity_ + 1));
    }
    std::memcpy(data_ + size_, s.data(), s.size());
    size_ += s.size();
  }

  char* finish() {
    if (size_ == 0)
      return nullptr;
    data_[size_] = 0;
    return reinterpret_cast<char*>(std::exchange(data_, nullptr));
  }

 private:
  uint8_t* data_;
  size_t capacity_;
  size_t size_ = 0;
};

// The same interface over a std::string.
class StringText {
 public:
  explicit StringText(size_t capacity) { text_.resize(capacity); }

  uint8_t* cursor() { return reinterpret_cast<uint8_t*>(text_.data()) + size_; }
  void advance(size_t n) { size_ += n; }
  void append(std::string_view s) {
    if (s.empty())
      return;
    if (s.size() > text_.size() - size_) {
      text_.resize(std::max(size_ + s.size(), text_.size() + text_.size() / 2));
    }
    std::memcpy(text_.data() + size_, s.data(), s.size());
    size_ += s.size();
  }

  std::string finish() {
    text_.resize(size_);
    return std::move(text_);
  }

 private:
  std::string text_;
  size_t size_ = 0;
};

// Offset of the first occurrence at or after `from`; npos when none.
inline size_t find_from(std::string_view t, std::string_view sought, size_t from, gbk::Case rule) {
  if (from >= t.size())
    return npos;
  if (sought.empty())
    return 0;  // whatever the start
  gbk::Finder finder(t, sought, rule, t.size());
  return finder.find(from, from);
}

// Offset of the last occurrence that ends at or before `range`; npos when none.
inline size_t find_last_within(std::string_view t, std::string_view sought, size_t range,
                               gbk::Case rule) {
  if (sought.empty())
    return range > 0 ? 0 : npos;
  gbk::Finder finder(t, sought, rule, range);
  size_t last = npos;
  for (size_t q = finder.find(0, 0); q != npos; q = finder.find(q + 1, q)) last = q;
  return last;
}

// Up to `limit` occurrences at or after `from` replaced. The walk resumes right after each
// replaced occurrence, so what was emitted is never searched again and occurrences never
// overlap. Without any, the text as it is.
template <typename Out>
auto replace_into(std::string_view t, std::string_view sought, std::string_view replacement,
                  size_t from, size_t limit, gbk::Case rule) {
  Out out(t.size());
  if (t.empty() || sought.empty() || from >= t.size() || limit == 0) {
    out.append(t);
    return out.finish();
  }
  gbk::Finder finder(t, sought, rule, t.size());
  size_t pos = from;
  size_t q = finder.find(pos, pos);
  if (q == npos) {
    out.append(t);
    return out.finish();
  }
  out.append(t.substr(0, from));
  for (size_t done = 0; q != npos;) {
    out.append(t.substr(pos, q - pos));
    out.append(replacement);
    pos = q + sought.size();
    q = ++done < limit ? finder.find(pos, pos) : npos;
  }
  out.append(t.substr(pos));
  return out.finish();
}

// Calls piece(view) for each piece between separators, at most `limit` pieces.
template <typename Piece>
void split_each(std::string_view t, std::string_view separator, size_t limit, Piece piece) {
  if (t.empty())
    return;
  size_t count = 0;
  size_t pos = 0;
  if (!separator.empty() && limit > 0) {
    gbk::Finder finder(t, separator, gbk::Case::kExact, t.size());
    auto cut = [&](size_t q) {
      piece(t.substr(pos, q - pos));
      pos = q + separator.size();
      return ++count < limit;
    };
    finder.find_each(
        0, [](void* context, size_t q) { return (*static_cast<decltype(cut)*>(context))(q); },
        &cut);
  }
  if (pos < t.size() && count < limit)
    piece(t.substr(pos));
}

// The part of the text without the spaces at either end.
std::string_view trimmed(std::string_view t);

// Writes the text without its spaces (ASCII and wide) to `out`, which has room for the whole
// text; answers the bytes written. A lone lead byte at the end is kept as it is.
size_t remove_spaces_to(std::string_view t, uint8_t* out);

template <typename Out>
auto remove_spaces_into(std::string_view t) {
  Out out(t.size());
  out.advance(remove_spaces_to(t, out.cursor()));
  return out.finish();
}

template <typename Out>
auto lower_case_into(std::string_view t) {
  const uint8_t* p = gbk::bytes_of(t);
  const size_t length = t.size();
  Out out(length);
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
    if (i + 1 < length)
      o[i + 1] = p[i + 1];  // the trail byte is never changed
    i += 2;
  }
  out.advance(length);
  return out.finish();
}

template <typename Out>
auto spaces_into(int32_t count) {
  const size_t n = count < 1 ? 0 : static_cast<size_t>(count);
  Out out(n);
  if (n > 0)
    std::memset(out.cursor(), ' ', n);
  out.advance(n);
  return out.finish();
}

}  // namespace web::walk
