// The text operations as plain C++: code page 936 texts in as views, owned texts out.
//
// These are what the built-in text commands do (see builtins.h for the rules: 1-based byte
// positions, -1 for "not found", double-byte characters stepped over as units where texts are
// searched, replaced, split, trimmed or case-folded); the commands only unpack their cells, call
// these and pack the result. C++ code of the program calls these directly.
//
// A text ends at its first zero byte, so views given here hold none; an empty result is the
// empty string (the commands hand it over as the empty text, null).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace web::text_ops {

enum class Case { kExact, kFoldAscii };

// The first `count` bytes; empty for count < 1.
std::string left(std::string_view text, int32_t count);
// The last `count` bytes; empty for count < 1.
std::string right(std::string_view text, int32_t count);
// `count` bytes from the 1-based `start`; empty when start lies outside the text or count < 1.
std::string middle(std::string_view text, int32_t start, int32_t count);

// 1-based position of the first occurrence at or after `start` (start < 1 reads as 1), or -1.
// An empty sought text is found at 1 whenever start lies inside the text.
int32_t find(std::string_view text, std::string_view sought, int32_t start = 1,
             Case rule = Case::kExact);
// 1-based position of the last occurrence that ends before `start` (left out: anywhere), or -1.
int32_t find_backward(std::string_view text, std::string_view sought,
                      std::optional<int32_t> start = std::nullopt, Case rule = Case::kExact);

// Replaces up to `count` (negative: every) occurrences found at or after `start`, left to right,
// never overlapping.
std::string replace(std::string_view text, std::string_view sought, std::string_view replacement,
                    Case rule, int32_t start = 1, int32_t count = -1);

// The pieces between separators, at most `max_count` of them (left out: all); a separator at the
// very end gives no empty last piece, and the empty text gives no pieces at all.
std::vector<std::string> split(std::string_view text, std::string_view separator,
                               std::optional<int32_t> max_count = std::nullopt);

// Without the spaces (ASCII and ideographic) at either end.
std::string trim_both_ends(std::string_view text);
// Without any space (ASCII or ideographic).
std::string remove_spaces(std::string_view text);
// ASCII letters in lower case; double-byte characters as they are.
std::string to_lower_case(std::string_view text);
// `count` spaces; empty for count < 1.
std::string spaces(int32_t count);

// Only the sign counts. A double-byte character sorts after every single byte.
int32_t compare(std::string_view a, std::string_view b, Case rule);

// The value in upper-case hexadecimal digits, without leading zeros ("0" for 0).
std::string hex(int32_t value);
// Leading white space, a sign, decimal digits up to the first other character; full-width forms
// read as their ASCII counterparts; values past the int range saturate.
int32_t to_integer(std::string_view text);

// The text after the first `left` at or after `start` and before the next `right`; empty when
// either is missing. "#引号" in a marker stands for a double quote.
std::string between(std::string_view text, std::string_view left, std::string_view right,
                    int32_t start = 1, Case rule = Case::kExact);

// What follows the first ":" of a header line, trimmed; empty without a ":".
std::string after_colon(std::string_view header);

}  // namespace web::text_ops
