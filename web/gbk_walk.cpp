#include "web/gbk_walk.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace web::gbk {
namespace {

// How often a byte turns up in the pages this program reads (mostly ASCII markup with some
// Chinese): the lower, the fewer false candidates when the finder jumps to it.
constexpr std::array<uint8_t, 256> make_byte_ranks() {
  std::array<uint8_t, 256> ranks{};
  for (size_t b = 0; b < ranks.size(); ++b) {
    if (b >= 0x80) {
      ranks[b] = 120;
    } else if (b >= 0x20 && b < 0x7F) {
      ranks[b] = 60;
    } else {
      ranks[b] = 10;
    }
  }
  constexpr std::string_view kCommon = " etaoinsrlhdc<>=\"/umpfgwy.b-:v_k0x12,;3\n\t\r'#&";
  for (size_t i = 0; i < kCommon.size(); ++i) {
    ranks[static_cast<uint8_t>(kCommon[i])] = static_cast<uint8_t>(250 - 3 * i);
  }
  return ranks;
}
constexpr std::array<uint8_t, 256> kByteRanks = make_byte_ranks();

#if defined(__SSE2__)
constexpr bool kPairFilter = true;
#else
constexpr bool kPairFilter = false;
#endif

bool is_ascii_letter(uint8_t b) {
  return fold_ascii(b) >= 'a' && fold_ascii(b) <= 'z';
}

}  // namespace

Finder::Finder(std::string_view text, std::string_view sought, Case rule, size_t end)
    : text_(bytes_of(text)),
      length_(text.size()),
      sought_(bytes_of(sought)),
      sought_length_(sought.size()),
      rule_(rule),
      end_(end < text.size() ? end : text.size()) {
  const bool any_case = rule_ == Case::kFoldAscii;
  const auto rank = [&](size_t i) {
    return kByteRanks[any_case ? fold_ascii(sought_[i]) : sought_[i]];
  };
  size_t best = npos;
  size_t second = npos;
  for (size_t i = 0; i < sought_length_; ++i) {
    if (best == npos || rank(i) < rank(best)) {
      second = best;
      best = i;
    } else if (second == npos || rank(i) < rank(second)) {
      second = i;
    }
  }
  if (best == npos)
    return;
  if (second == npos)
    second = best;
  const auto key = [&](size_t i) {
    const bool letter = any_case && is_ascii_letter(sought_[i]);
    return Key{i, letter ? fold_ascii(sought_[i]) : sought_[i], letter};
  };
  keys_[0] = key(best);
  keys_[1] = key(second);
  // One byte is found by memchr, two by the pair filter: either way every candidate matches.
  filter_is_exact_ = sought_length_ == 1 || (sought_length_ == 2 && kPairFilter);
}

size_t Finder::find(size_t from, size_t anchor) {
  if (sought_length_ == 0 || end_ < sought_length_)
    return npos;
  const size_t last = end_ - sought_length_;
  if (from > last)
    return npos;
  anchor_ = anchor;
  if (by_table_)
    return find_by_table(from);
  if (origin_ == npos)
    origin_ = from;

  for (size_t q = from; q <= last; ++q) {
    q = next_candidate(q, last);
    if (q == npos)
      return npos;
    if (!at_character(q))
      continue;
    // Comparing far more bytes than the search has advanced means a periodic text (failing
    // candidates, or overlapping matches when searching on past one); go linear from here.
    if (compared_ > 2 * (q - origin_) + 4 * sought_length_ + 4096) {
      by_table_ = true;
      return find_by_table(q);
    }
    if (filter_is_exact_)
      return q;
    compared_ += sought_length_;
    if (matches_at(q))
      return q;
  }
  return npos;
}

void Finder::find_each(size_t from, bool (*found)(void*, size_t), void* context) {
  const size_t s = sought_length_;
#if defined(__SSE2__)
  if (filter_is_exact_ && !by_table_ && s > 0 && end_ >= s) {
    const size_t last = end_ - s;
    // Locals, which the calls of `found` cannot be taken to change.
    const Key k0 = keys_[0];
    const Key k1 = keys_[1];
    const uint8_t* const text = text_;
    const size_t length = length_;
    const auto splat = [](unsigned b) { return _mm_set1_epi8(static_cast<char>(b)); };
    const auto load = [&](size_t at) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    };
    const __m128i want0 = splat(k0.byte);
    const __m128i want1 = splat(k1.byte);
    const __m128i case0 = splat(k0.any_case ? 0x20 : 0);
    const __m128i case1 = splat(k1.any_case ? 0x20 : 0);
    anchor_ = from;
    size_t next = from;  // no match starts before this: the last one ends here
    for (size_t lo = from; lo <= last;) {
      unsigned mask = 0;
      size_t step = 16;
      if (last - lo >= 15) {  // the loads stay inside the range, as in next_by_pair
        const __m128i fit0 = _mm_cmpeq_epi8(_mm_or_si128(load(lo + k0.offset), case0), want0);
        const __m128i fit1 = _mm_cmpeq_epi8(_mm_or_si128(load(lo + k1.offset), case1), want1);
        mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(fit0, fit1)));
      } else {
        step = last - lo + 1;
        for (size_t j = 0; j < step; ++j) {
          if (k0.fits(text[lo + j + k0.offset]) && k1.fits(text[lo + j + k1.offset]))
            mask |= 1u << j;
        }
      }
      for (; mask != 0; mask &= mask - 1) {
        const size_t q = lo + static_cast<size_t>(__builtin_ctz(mask));
        if (q < next)
          continue;
        if (q > anchor_ && is_lead(text[q - 1])) {  // else q starts a character
          if (!at_character(q))
            continue;
        } else if (q + 1 == length && is_lead(text[q])) {
          continue;  // a lone lead byte at the end ends the walk
        } else {
          anchor_ = q;
        }
        if (!found(context, q))
          return;
        next = q + s;
        anchor_ = next;
      }
      lo += step;
    }
    return;
  }
#endif
  for (size_t pos = from;;) {
    const size_t q = find(pos, pos);
    if (q == npos || !found(context, q))
      return;
    pos = q + s;
  }
}

size_t Finder::next_candidate(size_t lo, size_t last) {
  if (kPairFilter && sought_length_ >= 2)
    return next_by_pair(lo, last);
  return next_by_memchr(lo, last);
}

size_t Finder::next_by_pair(size_t lo, size_t last) {
  const Key& k0 = keys_[0];
  const Key& k1 = keys_[1];
#if defined(__SSE2__)
  const auto splat = [](unsigned b) { return _mm_set1_epi8(static_cast<char>(b)); };
  const auto load = [&](size_t at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text_ + at));
  };
  const __m128i want0 = splat(k0.byte);
  const __m128i want1 = splat(k1.byte);
  const __m128i case0 = splat(k0.any_case ? 0x20 : 0);
  const __m128i case1 = splat(k1.any_case ? 0x20 : 0);
  // Close candidates come out of the block already looked at.
  if (lo >= block_at_ && lo - block_at_ < 16) {
    const unsigned rest = block_mask_ >> (lo - block_at_);
    if (rest != 0)
      return lo + static_cast<size_t>(__builtin_ctz(rest));
    lo = block_at_ + 16;
  }
  // Sixteen candidate positions per step; the loads stay inside the range (q + 15 <= last).
  for (; lo <= last && last - lo >= 15; lo += 16) {
    const __m128i fit0 = _mm_cmpeq_epi8(_mm_or_si128(load(lo + k0.offset), case0), want0);
    const __m128i fit1 = _mm_cmpeq_epi8(_mm_or_si128(load(lo + k1.offset), case1), want1);
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(fit0, fit1)));
    if (mask == 0)
      continue;
    block_at_ = lo;
    block_mask_ = mask;
    return lo + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; lo <= last; ++lo) {
    if (k0.fits(text_[lo + k0.offset]) && k1.fits(text_[lo + k1.offset]))
      return lo;
  }
  return npos;
}

size_t Finder::next_by_memchr(size_t lo, size_t last) {
  if (lo > last)
    return npos;
  const Key& key = keys_[0];
  const size_t first = lo + key.offset;
  const size_t span = last - lo + 1;
  const auto scan = [&](uint8_t b) {
    const void* p = std::memchr(text_ + first, b, span);
    return p ? static_cast<size_t>(static_cast<const uint8_t*>(p) - text_) : npos;
  };
  size_t hit = npos;
  if (!key.any_case) {
    hit = scan(key.byte);
  } else {
    // Each spelling keeps its own next hit, so every byte is scanned at most once per spelling.
    const uint8_t spellings[2] = {key.byte, static_cast<uint8_t>(key.byte & ~0x20)};
    for (size_t i = 0; i < 2; ++i) {
      const bool cached = searched_[i] != npos && searched_[i] <= first &&
                          (next_hit_[i] == npos || next_hit_[i] >= first);
      if (!cached) {
        next_hit_[i] = scan(spellings[i]);
        searched_[i] = first;
      }
      if (next_hit_[i] < hit)
        hit = next_hit_[i];
    }
  }
  return hit == npos ? npos : hit - key.offset;
}

bool Finder::at_character(size_t q) {
  // Any byte below 0x80 ends a character, so q starts one exactly when the run of lead-range
  // bytes right before it (back to the anchor) has even length.
  size_t j = q;
  if (j > anchor_ && is_lead(text_[j - 1])) {
    while (j - anchor_ >= 8 && (load_word(text_ + j - 8) & kHighBits) == kHighBits) j -= 8;
    while (j > anchor_ && is_lead(text_[j - 1])) --j;
  }
  const bool starts = ((q - j) & 1) == 0;
  anchor_ = starts ? q : q - 1;
  if (!starts)
    return false;
  return !(q + 1 == length_ && is_lead(text_[q]));  // a lone lead byte at the end ends the walk
}

bool Finder::matches_at(size_t q) const {
  if (rule_ == Case::kExact)
    return std::memcmp(text_ + q, sought_, sought_length_) == 0;
  for (size_t i = 0; i < sought_length_; ++i) {
    if (fold_ascii(text_[q + i]) != fold_ascii(sought_[i]))
      return false;
  }
  return true;
}

size_t Finder::find_by_table(size_t from) {
  const size_t s = sought_length_;
  if (prefix_.empty()) {
    folded_.assign(sought_, sought_ + s);
    if (rule_ == Case::kFoldAscii) {
      for (uint8_t& b : folded_) b = fold_ascii(b);
    }
    prefix_.assign(s, 0);
    uint32_t k = 0;
    for (size_t i = 1; i < s; ++i) {
      while (k > 0 && folded_[i] != folded_[k]) k = prefix_[k - 1];
      if (folded_[i] == folded_[k])
        ++k;
      prefix_[i] = k;
    }
  }
  // Searches resume past the last match, never more than s bytes behind the scan, so the
  // scan state stays valid and only occurrences starting before `from` are passed over.
  if (scan_at_ < from) {
    scan_at_ = from;
    matched_ = 0;
  }
  const bool fold = rule_ == Case::kFoldAscii;
  while (scan_at_ < end_) {
    const uint8_t c = fold ? fold_ascii(text_[scan_at_]) : text_[scan_at_];
    ++scan_at_;
    while (matched_ > 0 && folded_[matched_] != c) matched_ = prefix_[matched_ - 1];
    if (folded_[matched_] == c)
      ++matched_;
    if (matched_ < s)
      continue;
    matched_ = prefix_[s - 1];
    const size_t q = scan_at_ - s;
    if (q >= from && at_character(q))
      return q;
  }
  return npos;
}

}  // namespace web::gbk
