// Small text helpers of the demo film site: reading the query of a request target, escaping
// texts into HTML, UTF-8 sequences and GBK for the live pages, and the case-insensitive keyword
// match of the search page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace demo_site {

// Decodes %XX groups (either case of hex digit) into bytes. A "%" that does not start a valid
// group stays as it is; "+" stays a plus sign, since the program encodes a space as %20.
std::string percent_decode(std::string_view text);

// The still encoded value of the first `key` parameter in the query part of a request target
// ("/search.php?a=1&searchword=x"); nothing when the key is absent. A key without "=" has the
// empty value.
std::optional<std::string_view> query_value(std::string_view target, std::string_view key);

// Escapes &, <, >, " and ' for element text and quoted attribute values. Bytes that are not
// well-formed UTF-8 become U+FFFD, so an echoed keyword cannot break the page's encoding.
std::string html_escape(std::string_view text);

// Length of the well-formed UTF-8 sequence at `pos` (below text.size()), or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF included).
size_t utf8_sequence_length(std::string_view text, size_t pos);

// UTF-8 text in code page 936 (GBK). A character GBK lacks, or a byte that is not UTF-8, becomes
// "?". Nothing when the system has no converter for the pair.
std::optional<std::string> utf8_to_gbk(std::string_view text);

// Whether `haystack` contains `needle`, folding ASCII letters only; the empty needle is
// contained in everything.
bool contains_folded(std::string_view haystack, std::string_view needle);

}  // namespace demo_site
