// Small text helpers of the demo film site: reading the query of a request target, escaping
// texts into HTML, and the case-insensitive keyword match of the search page.
#pragma once

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

// Whether `haystack` contains `needle`, folding ASCII letters only; the empty needle is
// contained in everything.
bool contains_folded(std::string_view haystack, std::string_view needle);

}  // namespace demo_site
