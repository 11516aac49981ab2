// Walking code page 936 texts character by character, and searching them.
//
// A byte of 0x80 or above leads a two-byte character; a lead byte with nothing after it ends the
// walk. Matches start only where a character starts, so an ASCII sought text is never found on
// the trail byte of a double-byte character. Internal to the built-in commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace web::gbk {

inline constexpr size_t npos = static_cast<size_t>(-1);
inline constexpr uint64_t kHighBits = 0x8080808080808080ull;
inline constexpr uint64_t kOnes = 0x0101010101010101ull;

inline bool is_lead(uint8_t b) {
  return b >= 0x80;
}

inline uint64_t load_word(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
inline void store_word(uint8_t* p, uint64_t w) {
  std::memcpy(p, &w, sizeof w);
}

// True when some byte of w (all bytes below 0x80) equals c.
inline bool word_has_byte(uint64_t w, uint8_t c) {
  const uint64_t v = w ^ (kOnes * c);
  return ((v - kOnes) & ~v & kHighBits) != 0;
}

inline uint8_t fold_ascii(uint8_t b) {
  return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 0x20) : b;
}

// The two-byte ideographic space counts as a space wherever spaces are removed.
inline bool is_wide_space(uint8_t lead, uint8_t trail) {
  return lead == 0xA1 && trail == 0xA1;
}

enum class Case { kExact, kFoldAscii };

inline const uint8_t* bytes_of(std::string_view s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// Finds a sought text at character positions of a walk over `text`, never past `end`.
//
// Each call names the position `from` where the search starts and a character position
// `anchor` <= from that the walk is known to pass; character positions after the anchor follow
// from the bytes. Calls on one finder must not go backwards. Candidates are the positions where
// the sought text's two rarest bytes both fit, sixteen positions at a time (one byte: memchr);
// when candidates keep failing (periodic texts), the finder switches to a prefix-table scan so
// the whole search stays linear.
class Finder {
 public:
  Finder(std::string_view text, std::string_view sought, Case rule, size_t end);

  // Start of the first match at or after `from` that ends at or before `end`; npos when none.
  size_t find(size_t from, size_t anchor);

  // Calls found(context, q) for each match from `from` (a character position) on, each search
  // resuming right after the match before, as find(q + length, q + length) would, until found
  // answers false or no match is left. Where every candidate is a match (a sought text of one
  // or two bytes), candidates are taken sixteen positions at a time without a call per match.
  void find_each(size_t from, bool (*found)(void* context, size_t q), void* context);

 private:
  // A byte of the sought text that candidates must show at `offset`. A letter searched without
  // case is held in lower case and compared as byte | 0x20, which fits exactly its two spellings.
  struct Key {
    size_t offset = 0;
    uint8_t byte = 0;
    bool any_case = false;
    bool fits(uint8_t b) const { return (any_case ? (b | 0x20) : b) == byte; }
  };

  size_t next_candidate(size_t lo, size_t last);
  size_t next_by_pair(size_t lo, size_t last);
  size_t next_by_memchr(size_t lo, size_t last);
  bool at_character(size_t q);
  bool matches_at(size_t q) const;
  size_t find_by_table(size_t from);

  const uint8_t* text_;
  size_t length_;
  const uint8_t* sought_;
  size_t sought_length_;
  Case rule_;
  size_t end_;

  size_t anchor_ = 0;
  Key keys_[2];                        // the rarest byte and the next rarest
  bool filter_is_exact_ = false;       // every candidate is a match
  size_t block_at_ = npos;             // pair path: the last block with candidates ...
  unsigned block_mask_ = 0;            // ... one bit per position
  size_t next_hit_[2] = {npos, npos};  // memchr path: next hit per spelling of keys_[0] ...
  size_t searched_[2] = {npos, npos};  // ... valid for searches from here on
  size_t compared_ = 0;
  size_t origin_ = npos;  // where the first search started

  bool by_table_ = false;
  std::vector<uint32_t> prefix_;
  std::vector<uint8_t> folded_;
  size_t scan_at_ = 0;
  size_t matched_ = 0;
};

}  // namespace web::gbk
