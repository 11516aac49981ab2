// Text commands: cutting, searching, replacing, splitting, spaces, case, comparing. Each reads
// its cells and runs text_ops (or, where it builds a new text, the same walk straight into the
// result's heap block).
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "runtime/heap.h"
#include "web/builtins.h"
#include "web/gbk_walk.h"
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

// The fused cut for a separator of one or two bytes: one pass copies the text into the shared
// block sixteen (or thirty-two) bytes at a time and compares the same bytes with the separator,
// so the text is read once. Each element's pointer goes straight into the array; its zero byte
// lands on the separator's first byte, already copied. Matches start only at character starts:
// a candidate right after an ASCII byte starts one; after a lead-range byte, the run of such
// bytes back to the last known character start decides, as the search walk does.
struct Cut {
  const uint8_t* text;
  size_t length;
  uint8_t s0;
  uint8_t s1;
  size_t s;  // separator length, 1 or 2
  size_t limit;
  char* block;
  uint8_t* array;  // header, then the element pointers
  size_t capacity = 0;
  size_t count = 0;
  size_t shares = 0;
  size_t used = 0;
  size_t pos = 0;     // the current element's start
  size_t anchor = 0;  // a character start at or before every candidate still to come

  static constexpr size_t kHeader = 8;

  bool starts_character(size_t q) {
    size_t j = q;
    if (j > anchor && gbk::is_lead(text[j - 1])) {
      while (j - anchor >= 8 && (gbk::load_word(text + j - 8) & gbk::kHighBits) == gbk::kHighBits)
        j -= 8;
      while (j > anchor && gbk::is_lead(text[j - 1])) --j;
    }
    const bool starts = ((q - j) & 1) == 0;
    anchor = starts ? q : q - 1;
    if (!starts)
      return false;
    return !(q + 1 == length && gbk::is_lead(text[q]));  // a lone lead byte at the end
  }

  // Out of line, and given no pointer to the cut, which stays in registers.
  [[gnu::noinline]] static uint8_t* grown(uint8_t* array, size_t capacity) {
    return static_cast<uint8_t*>(rt::reallocate(array, kHeader + capacity * sizeof(char*)));
  }

  // An element ends at q (the block's bytes up to q are copied); false once the limit is met.
  bool element_to(size_t q) {
    if (count == capacity) [[unlikely]] {
      capacity *= 2;
      array = grown(array, capacity);
    }
    char* element = nullptr;
    if (q > pos) {
      block[q] = 0;
      element = block + pos;
      ++shares;
      used = q + 1;
    }
    std::memcpy(array + kHeader + count * sizeof(char*), &element, sizeof element);
    ++count;
    pos = q + s;
    return count < limit;
  }

  // Candidates of the bytes [lo, lo + width) given one bit per position; false once the limit
  // is met.
  bool take(size_t lo, uint32_t mask) {
    for (; mask != 0; mask &= mask - 1) {
      const size_t q = lo + static_cast<size_t>(__builtin_ctz(mask));
      if (q < pos)
        continue;  // inside the separator just cut
      if (q > anchor && gbk::is_lead(text[q - 1])) {
        if (!starts_character(q))
          continue;
      } else if (q + 1 == length && gbk::is_lead(text[q])) {
        continue;
      }
      anchor = q + s;
      if (!element_to(q))
        return false;
    }
    return true;
  }

  // Copies and compares the bytes from i on one at a time; false once the limit is met.
  bool tail(size_t i) {
    for (; i < length; ++i) {
      block[i] = static_cast<char>(text[i]);
      if (text[i] == s0 && i + s <= length && (s == 1 || text[i + 1] == s1) && !take(i, 1))
        return false;
    }
    return true;
  }

  // Each works on a local copy (cut_sse2, cut_avx2), which the compiler keeps in registers
  // since the block's byte stores cannot alias it.
  void sse2();
  void avx2();
  void cut_sse2();
  void cut_avx2();
  void finish() {
    if (pos < length && count < limit) {
      block[length] = 0;
      element_to(length);
    }
  }
};

void Cut::sse2() {
  Cut c = *this;
  c.cut_sse2();
  *this = c;
}

#if defined(__SSE2__)
__attribute__((target("avx2"))) void Cut::avx2() {
  Cut c = *this;
  c.cut_avx2();
  *this = c;
}

[[gnu::always_inline]] inline void Cut::cut_sse2() {
  const __m128i want0 = _mm_set1_epi8(static_cast<char>(s0));
  const __m128i want1 = _mm_set1_epi8(static_cast<char>(s1));
  const auto load = [&](size_t at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
  };
  size_t i = 0;
  // Every load stays inside the text: the second byte's load reads one byte further.
  for (; i + 16 + (s - 1) <= length; i += 16) {
    const __m128i v = load(i);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), v);
    __m128i fit = _mm_cmpeq_epi8(v, want0);
    if (s == 2)
      fit = _mm_and_si128(fit, _mm_cmpeq_epi8(load(i + 1), want1));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(fit));
    if (mask != 0 && !take(i, mask))
      return;
  }
  if (tail(i))
    finish();
}

[[gnu::always_inline]] inline __attribute__((target("avx2"))) void Cut::cut_avx2() {
  const __m256i want0 = _mm256_set1_epi8(static_cast<char>(s0));
  const __m256i want1 = _mm256_set1_epi8(static_cast<char>(s1));
  const auto load = [&](size_t at) __attribute__((target("avx2"))) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + at));
  };
  size_t i = 0;
  for (; i + 32 + (s - 1) <= length; i += 32) {
    const __m256i v = load(i);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + i), v);
    __m256i fit = _mm256_cmpeq_epi8(v, want0);
    if (s == 2)
      fit = _mm256_and_si256(fit, _mm256_cmpeq_epi8(load(i + 1), want1));
    const auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(fit));
    if (mask != 0 && !take(i, mask))
      return;
  }
  if (tail(i))
    finish();
}
#else
void Cut::cut_sse2() {
  if (tail(0))
    finish();
}
void Cut::avx2() {
  sse2();
}
#endif

bool has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool answer = __builtin_cpu_supports("avx2");
  return answer;
#else
  return false;
#endif
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
  if (!text.empty() && limit > 0 && (separator.size() == 1 || separator.size() == 2)) {
    Cut cut{gbk::bytes_of(text),
            text.size(),
            static_cast<uint8_t>(separator[0]),
            static_cast<uint8_t>(separator.back()),
            separator.size(),
            limit,
            block,
            array};
    // Room from an estimate of one element per forty bytes (a page's lines), doubling after.
    const size_t estimate = std::min(limit, text.size() / 40);
    if (estimate > capacity) {
      capacity = estimate;
      array = static_cast<uint8_t*>(rt::reallocate(array, kHeader + capacity * sizeof(char*)));
    }
    cut.array = array;
    cut.capacity = capacity;
    if (has_avx2())
      cut.avx2();
    else
      cut.sse2();
    array = cut.array;
    capacity = cut.capacity;
    count = cut.count;
    shares = cut.shares;
    used = cut.used;
  } else
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
