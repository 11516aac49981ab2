// ASCII letters compared without regard to case, for protocol words: header names, schemes,
// verbs, file extensions. Bytes outside A-Z compare as they are.
#pragma once

#include <cstddef>
#include <string_view>

namespace ascii {

inline char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Whether `text` starts with `lower_prefix`, which is written in lower case.
inline bool starts_with_folded(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size())
    return false;
  for (size_t i = 0; i < lower_prefix.size(); ++i) {
    if (lower(text[i]) != lower_prefix[i])
      return false;
  }
  return true;
}

// Whether `text` is `lower_word`, which is written in lower case.
inline bool equals_folded(std::string_view text, std::string_view lower_word) {
  return text.size() == lower_word.size() && starts_with_folded(text, lower_word);
}

}  // namespace ascii
