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
inline bool is_lead(char c) {
  return static_cast<uint8_t>(c) >= 0x80;
}
inline char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
}

inline bool matches_at(std::string_view t, size_t q, std::string_view sought, bool folded) {
  for (size_t i = 0; i < sought.size(); ++i) {
    const char a = t[q + i];
    const char b = sought[i];
    if (folded ? fold(a) != fold(b) : a != b)
      return false;
  }
  return true;
}

// The first match at a character start of the walk that begins at `from` (a lead byte takes the
// next byte with it; a lead byte with nothing after it ends the walk), ending at or before end.
inline size_t reference_find(std::string_view t, std::string_view sought, bool folded, size_t from,
                             size_t end) {
  for (size_t q = from; q < t.size();) {
    const bool lead = is_lead(t[q]);
    if (lead && q + 1 == t.size())
      return kNone;
    if (q + sought.size() <= end && matches_at(t, q, sought, folded))
      return q;
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
    if (q == kNone)
      break;
    out.append(t.substr(pos, q - pos)).append(replacement);
    pos = q + sought.size();
  }
  out.append(t.substr(pos));
  return out;
}

// The ideographic space of code page 936 at t[i] (t[i + 1] must exist).
inline bool is_wide_space(std::string_view t, size_t i) {
  return static_cast<uint8_t>(t[i]) == 0xA1 && static_cast<uint8_t>(t[i + 1]) == 0xA1;
}

// Spaces and ideographic spaces off both ends; a lone lead byte at the end goes with them.
inline std::string reference_trim(std::string_view t) {
  size_t i = 0;
  while (i < t.size()) {
    if (t[i] == ' ') {
      ++i;
    } else if (i + 1 < t.size() && is_wide_space(t, i)) {
      i += 2;
    } else {
      break;
    }
  }
  const size_t start = i;
  size_t end = start;
  while (i < t.size()) {
    if (!is_lead(t[i])) {
      if (t[i] != ' ')
        end = i + 1;
      ++i;
    } else if (i + 1 == t.size()) {
      break;  // a lone lead byte at the end goes with the spaces
    } else {
      if (!is_wide_space(t, i))
        end = i + 2;
      i += 2;
    }
  }
  return std::string(t.substr(start, end - start));
}

// Every space and ideographic space that starts a character taken out.
inline std::string reference_remove_spaces(std::string_view t) {
  std::string out;
  for (size_t i = 0; i < t.size();) {
    if (!is_lead(t[i])) {
      if (t[i] != ' ')
        out += t[i];
      ++i;
    } else if (i + 1 == t.size()) {
      out += t[i++];
    } else {
      if (!is_wide_space(t, i))
        out.append(t.substr(i, 2));
      i += 2;
    }
  }
  return out;
}

}  // namespace fuzz::reference
