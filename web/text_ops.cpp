#include "web/text_ops.h"

#include <bit>
#include <cstdio>
#include <limits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "web/text_walks.h"

namespace web {

std::string_view walk::trimmed(std::string_view t) {
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
      if (p[i] != ' ')
        end = i + 1;
      ++i;
      continue;
    }
    if (i + 1 == length)
      break;  // a lone lead byte at the end goes with the spaces
    if (!gbk::is_wide_space(p[i], p[i + 1]))
      end = i + 2;
    i += 2;
  }
  return t.substr(start, end - start);
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

// For each set of up to eight bytes to keep (bit i: byte i), their positions in order.
struct PackTable {
  uint8_t order[256][8];
  uint8_t count[256];
};
constexpr PackTable make_pack_table() {
  PackTable table{};
  for (unsigned keep = 0; keep < 256; ++keep) {
    uint8_t n = 0;
    for (uint8_t b = 0; b < 8; ++b) {
      if (keep & (1u << b))
        table.order[keep][n++] = b;
    }
    table.count[keep] = n;
  }
  return table;
}
constexpr PackTable kPack = make_pack_table();

// The double-byte characters from p[i] on, each but the wide space copied to o; a lone lead
// byte at the end is kept. Moves i and o on.
[[gnu::always_inline]] inline void copy_double_bytes(const uint8_t* p, size_t length, size_t& i,
                                                     uint8_t*& o) {
  while (i < length && gbk::is_lead(p[i])) {
    if (i + 1 == length) {
      *o++ = p[i++];
      break;
    }
    o[0] = p[i];
    o[1] = p[i + 1];
    o += gbk::is_wide_space(p[i], p[i + 1]) ? 0 : 2;
    i += 2;
  }
}

// Writes the bytes of `block` that `keep` marks, in order, at o as two eight-byte stores (each
// may run past what it keeps, never past the text's room, since the output never runs ahead of
// the input). Answers how many it kept.
[[gnu::always_inline]] inline __attribute__((target("ssse3"))) size_t pack_block(__m128i block,
                                                                                 unsigned keep,
                                                                                 uint8_t* o) {
  const unsigned low = keep & 0xFF;
  const unsigned upper = keep >> 8;
  const __m128i order = _mm_unpacklo_epi64(
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.order[low])),
      _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.order[upper])),
                   _mm_set1_epi8(8)));
  const __m128i packed = _mm_shuffle_epi8(block, order);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(o), packed);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(o + kPack.count[low]), _mm_srli_si128(packed, 8));
  return kPack.count[low] + kPack.count[upper];
}

// Sixteen bytes at a time while a block lies inside the text: the ASCII bytes before the first
// lead byte are packed without their spaces by one byte shuffle, and the double-byte characters
// from that lead byte on are copied one by one. A block of ASCII moves on by a constant, so that
// the next block's address does not wait for this one's bytes to be tested. Moves i and o on;
// the rest of the text is left to the caller.
__attribute__((target("ssse3"))) void remove_spaces_by_blocks(const uint8_t* p, size_t length,
                                                              size_t& at, uint8_t*& out) {
  // Locals: the byte stores could otherwise be taken to change the caller's cursors.
  size_t i = at;
  uint8_t* o = out;
  const __m128i space = _mm_set1_epi8(' ');
  while (length - i >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
    const auto spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, space)));
    if (high == 0) {
      o += pack_block(block, ~spaces & 0xFFFF, o);
      i += 16;
      continue;
    }
    const auto ascii = static_cast<unsigned>(__builtin_ctz(high));
    o += pack_block(block, ~spaces & ((1u << ascii) - 1), o);
    i += ascii;
    copy_double_bytes(p, length, i, o);
  }
  at = i;
  out = o;
}

// The same sixty-four bytes at a time, where the processor can compress a vector by a mask,
// with the double-byte characters sorted out in the block as well: every block goes in one
// compress and one store, whatever it holds.
//
// A block starts where a character starts. Within a run of bytes of 0x80 and above the
// characters pair up from the run's first byte (the byte before it, ASCII, leads nothing), so
// the lead bytes are those at an even distance from their run's start, and a run of odd length
// takes the byte after it as its last trail. The runs that start at an even position are the
// run bits cleared by adding their start bits (the carry runs through each such run and
// nowhere else); their lead bytes are at even positions, those of the other runs at odd ones.
// A lead byte in the block's last place is left to the next block, with its trail.
__attribute__((target("avx512bw,avx512vbmi2"))) void remove_spaces_by_wide_blocks(const uint8_t* p,
                                                                                  size_t length,
                                                                                  size_t& at,
                                                                                  uint8_t*& out) {
  constexpr uint64_t kEven = 0x5555555555555555ull;
  constexpr uint64_t kLast = uint64_t{1} << 63;
  size_t i = at;
  uint8_t* o = out;
  const __m512i space = _mm512_set1_epi8(' ');
  const __m512i wide_half = _mm512_set1_epi8(static_cast<char>(0xA1));
  while (length - i >= 64) {
    const __m512i block = _mm512_loadu_si512(p + i);
    const uint64_t high = _mm512_movepi8_mask(block);
    const uint64_t spaces = _mm512_cmpeq_epi8_mask(block, space);
    if (high == 0) {
      _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(~spaces, block));
      o += std::popcount(~spaces);
      i += 64;
      continue;
    }
    const uint64_t starts = high & ~(high << 1);
    const uint64_t even_runs = high & ~(high + (starts & kEven));
    const uint64_t leads = (even_runs & kEven) | (high & ~even_runs & ~kEven);
    const uint64_t halves = _mm512_cmpeq_epi8_mask(block, wide_half);
    const uint64_t wide = leads & halves & (halves >> 1);
    uint64_t keep = ~((spaces & ~(leads << 1)) | wide | (wide << 1));
    i += 64;
    // A lead byte in the last place waits for the next block, with its trail. This stays a
    // branch: computed as arithmetic, the next block's load would wait for all of this
    // block's mask work, where a predicted step lets the blocks overlap (twice as fast).
    if ((leads & kLast) != 0) {
      keep &= ~kLast;
      --i;
    }
    _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(keep, block));
    o += std::popcount(keep);
  }
  at = i;
  out = o;
}

bool has_wide_compress() {
  static const bool has =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2");
  return has;
}

bool has_byte_shuffle() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

}  // namespace
#endif

size_t walk::remove_spaces_to(std::string_view t, uint8_t* out) {
  const uint8_t* p = gbk::bytes_of(t);
  const size_t length = t.size();
  uint8_t* o = out;

  size_t i = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  if (has_wide_compress())
    remove_spaces_by_wide_blocks(p, length, i, o);
  if (has_byte_shuffle())
    remove_spaces_by_blocks(p, length, i, o);
#endif
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
  return static_cast<size_t>(o - out);
}

namespace text_ops {
namespace {

gbk::Case walk_rule(Case rule) {
  switch (rule) {
    case Case::kExact:
      return gbk::Case::kExact;
    case Case::kFoldAscii:
      return gbk::Case::kFoldAscii;
  }
  return gbk::Case::kExact;
}

// A marker may name a double quote by this token.
constexpr std::string_view kQuoteToken = "#引号";

std::string with_quotes(std::string_view marker) {
  return replace(marker, kQuoteToken, "\"", Case::kExact);
}

// Full-width forms read as their ASCII counterparts before a text is read as a number.
// Returns the folded byte, or 0x100 for a double-byte character that stays as it is.
unsigned fold_wide(uint8_t lead, uint8_t trail) {
  if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE)
    return trail - 0x80u;
  if (lead == 0xA1) {
    if (trail == 0xA1)
      return ' ';
    if (trail == 0xAB)
      return '~';
    if (trail == 0xEE || trail == 0xEF)
      return '*';
  }
  return 0x100;
}

}  // namespace

std::string left(std::string_view text, int32_t count) {
  if (count <= 0)
    return {};
  return std::string(text.substr(0, static_cast<size_t>(count)));
}

std::string right(std::string_view text, int32_t count) {
  if (count <= 0)
    return {};
  const size_t take = std::min(text.size(), static_cast<size_t>(count));
  return std::string(text.substr(text.size() - take));
}

std::string middle(std::string_view text, int32_t start, int32_t count) {
  if (count <= 0 || start < 1 || static_cast<size_t>(start) > text.size())
    return {};
  return std::string(text.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(count)));
}

int32_t find(std::string_view text, std::string_view sought, int32_t start, Case rule) {
  return walk::position_result(
      walk::find_from(text, sought, walk::start_offset(start), walk_rule(rule)));
}

int32_t find_backward(std::string_view text, std::string_view sought, std::optional<int32_t> start,
                      Case rule) {
  const size_t range = start ? std::min(walk::start_offset(*start), text.size()) : text.size();
  return walk::position_result(walk::find_last_within(text, sought, range, walk_rule(rule)));
}

std::string replace(std::string_view text, std::string_view sought, std::string_view replacement,
                    Case rule, int32_t start, int32_t count) {
  const size_t limit = count < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(count);
  return walk::replace_into<walk::StringText>(text, sought, replacement, walk::start_offset(start),
                                              limit, walk_rule(rule));
}

std::vector<std::string> split(std::string_view text, std::string_view separator,
                               std::optional<int32_t> max_count) {
  const size_t limit =
      max_count ? static_cast<size_t>(std::max(*max_count, 0)) : std::numeric_limits<size_t>::max();
  std::vector<std::string> pieces;
  walk::split_each(text, separator, limit,
                   [&pieces](std::string_view piece) { pieces.emplace_back(piece); });
  return pieces;
}

std::string trim_both_ends(std::string_view text) {
  return std::string(walk::trimmed(text));
}

std::string remove_spaces(std::string_view text) {
  return walk::remove_spaces_into<walk::StringText>(text);
}

std::string to_lower_case(std::string_view text) {
  return walk::lower_case_into<walk::StringText>(text);
}

std::string spaces(int32_t count) {
  return walk::spaces_into<walk::StringText>(count);
}

int32_t compare(std::string_view a, std::string_view b, Case rule) {
  const bool fold = rule == Case::kFoldAscii;
  // One character as a number: a double-byte character is lead * 256 + trail, so it sorts
  // after every single byte; a lone lead byte at the end reads as the end, as the end reads 0.
  const auto next_char = [fold](std::string_view& t) -> uint32_t {
    if (t.empty())
      return 0;
    const auto lead = static_cast<uint8_t>(t[0]);
    t.remove_prefix(1);
    if (!gbk::is_lead(lead))
      return fold ? gbk::fold_ascii(lead) : lead;
    if (t.empty())
      return 0;
    const auto trail = static_cast<uint8_t>(t[0]);
    t.remove_prefix(1);
    return (uint32_t{lead} << 8) | trail;
  };
  for (;;) {
    const uint32_t ca = next_char(a);
    const uint32_t cb = next_char(b);
    if (ca != cb)
      return ca < cb ? -1 : 1;
    if (ca == 0)
      return 0;
  }
}

std::string hex(int32_t value) {
  char digits[16];
  const int written = std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(value));
  return std::string(digits, static_cast<size_t>(written));
}

int32_t to_integer(std::string_view text) {
  constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
  const uint8_t* p = gbk::bytes_of(text);
  size_t i = 0;
  const auto next = [&]() -> unsigned {  // the next folded character; 0x200 past the end
    if (i >= text.size())
      return 0x200;
    const uint8_t b = p[i];
    if (!gbk::is_lead(b)) {
      ++i;
      return b;
    }
    if (i + 1 >= text.size()) {
      i = text.size();
      return 0x200;
    }
    i += 2;
    return fold_wide(b, p[i - 1]);
  };
  const auto is_space = [](unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); };

  unsigned c = next();
  while (is_space(c)) c = next();
  bool negative = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    c = next();
  }
  int64_t value = 0;
  for (; c >= '0' && c <= '9'; c = next()) {
    value = value * 10 + (c - '0');
    if (value > int64_t{kIntMax} + 1)
      value = int64_t{kIntMax} + 1;  // stays saturated
  }
  if (negative)
    value = -value;
  if (value > kIntMax)
    return kIntMax;
  return static_cast<int32_t>(value);
}

std::string between(std::string_view text, std::string_view left, std::string_view right,
                    int32_t start, Case rule) {
  const std::string left_marker = with_quotes(left);
  const std::string right_marker = with_quotes(right);
  int32_t first = find(text, left_marker, start, rule);
  if (first != -1)
    first += static_cast<int32_t>(left_marker.size());
  // The right marker is sought from the first byte after the left one, so one inside the left
  // marker's match does not count. An empty right marker is found at 1, before that byte, and
  // the cut of a negative length is empty.
  const int32_t last = find(text, right_marker, first, rule);
  if (first == -1 || last == -1)
    return {};
  return middle(text, first, last - first);
}

std::string after_colon(std::string_view header) {
  const int32_t colon = find(header, ":");
  if (colon == -1)
    return {};
  return trim_both_ends(right(header, static_cast<int32_t>(header.size()) - colon));
}

}  // namespace text_ops
}  // namespace web
