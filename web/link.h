// Addresses found in a page, made whole the way a browser follows a link.
//
// A page names other pages and pictures by absolute addresses ("http://host/x"), scheme-relative
// ones ("//host/x"), root-relative ones ("/x") or relative ones ("x", "../x", "?q"); each is
// resolved against the address of the page it came from (RFC 3986, through libcurl's URL
// parser). Links come from untrusted pages, so the result is checked before anyone fetches or
// opens it: only http and https come out, and a link holding a control byte is refused.
#pragma once

#include <string>
#include <string_view>

namespace web {

// The absolute http(s) address that `link` (code page 936 text, as cut out of the page) names
// when found on the page at `page_address` (absolute http(s)). Spaces and tabs around the link
// are dropped, as a browser drops them; characters outside ASCII are sent as their UTF-8 bytes,
// percent-encoded, and spaces inside as %20. Empty when the link is empty, holds any other
// control byte, names another scheme, or does not parse.
std::string resolve_link(std::string_view page_address, std::string_view link);

// Whether the text starts with "http://" or "https://", in any letter case.
bool is_web_address(std::string_view text);

}  // namespace web
