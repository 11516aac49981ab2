// A plain reading of code page 936 texts for the harnesses: the walk one character at a time
// (a byte of 0x80 or above takes the next byte with it; a lead byte with nothing after it ends
// the walk) and byte-by-byte comparison, against which the fast searches are checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace fuzz::reference {

inline constexpr size_t kNone = std::numeric_limits<size_t>::max();
inline bool is_lead(char c) { return static_cast<uint8_t>(c) >= 0x80; }
inline char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

inline bool matches_at(std::string_view t, size_t q, std::string_view sought, bool folded) {
  for (size_t i = 0; i < sought.size(); ++i) {
    const char a = t[q + i];
    const char b = sought[i];
    if (folded ? fold(a) != fold(b) : a != b) return false;
  }
  return true;
}

// The first match at a character start of the walk that begins at `from` (a lead byte takes the
// next byte with it; a lead byte with nothing after it ends the walk), ending at or before end.
inline size_t reference_find(std::string_view t, std::string_view sought, bool folded,
                             size_t from, size_t end) {
  for (size_t q = from; q < t.size();) {
    const bool lead = is_lead(t[q]);
    if (lead && q + 1 == t.size()) return kNone;
    if (q + sought.size() <= end && matches_at(t, q, sought, folded)) return q;
    q += lead ? 2 : 1;
  }
  return kNone;
}

// Up to `limit` matches replaced, the walk starting at `from` and again right after each
// replaced match; the text before `from` is kept.
inline std::string reference_replace(std::string_view t, std::string_view sought,
                                     std::string_view replacement, size_t from, size_t limit,
                                     bool folded) {
  std::string out(t.substr(0, from));
  size_t pos = from;
  for (size_t done = 0; done < limit; ++done) {
    const size_t q = reference_find(t, sought, folded, pos, t.size());
    if (q == kNone) break;
    out.append(t.substr(pos, q - pos)).append(replacement);
    pos = q + sought.size();
  }
  out.append(t.substr(pos));
  return out;
}

}  // namespace fuzz::reference
