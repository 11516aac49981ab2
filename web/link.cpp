#include "web/link.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "web/codepage.h"

namespace web {
namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using Url = std::unique_ptr<CURLU, UrlDeleter>;
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

bool has_control_byte(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      return true;
  }
  return false;
}

// The link as a browser puts it on the wire: UTF-8 bytes outside ASCII and the characters that
// may not stand in an address percent-encoded; backslashes before the query read as slashes.
std::string wire_form(std::string_view link) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string utf8(link);
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii)
    utf8 = code_pages::local_to_utf8(utf8);
  std::string out;
  out.reserve(utf8.size());
  bool in_path = true;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '?' || c == '#')
      in_path = false;
    if (c == '\\' && in_path) {
      out += '/';
    } else if (byte >= 0x80 || c == ' ' || c == '"' || c == '<' || c == '>' || c == '`') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool has_web_scheme(CURLU* url) {
  char* scheme = nullptr;
  if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
    return false;
  const CurlText owned(scheme);
  const std::string_view s(scheme);
  return s == "http" || s == "https";
}

}  // namespace

bool is_web_address(std::string_view text) {
  const auto starts_folded = [text](std::string_view prefix) {
    if (text.size() < prefix.size())
      return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
      char c = text[i];
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c + ('a' - 'A'));
      if (c != prefix[i])
        return false;
    }
    return true;
  };
  return starts_folded("http://") || starts_folded("https://");
}

std::string resolve_link(std::string_view page_address, std::string_view link) {
  link = trimmed(link);
  if (link.empty() || has_control_byte(link) || has_control_byte(page_address))
    return {};
  const Url url(curl_url());
  if (!url)
    return {};
  // The page's address is read as a link is, so that what a link would have had encoded comes
  // out encoded whichever of the two it came from.
  const std::string page = wire_form(page_address);
  if (curl_url_set(url.get(), CURLUPART_URL, page.c_str(), 0) != CURLUE_OK ||
      !has_web_scheme(url.get())) {
    return {};
  }
  // Set on a handle that holds an absolute address, a relative one is resolved against it.
  const std::string wire = wire_form(link);
  if (curl_url_set(url.get(), CURLUPART_URL, wire.c_str(), 0) != CURLUE_OK ||
      !has_web_scheme(url.get())) {
    return {};
  }
  char* whole = nullptr;
  // A host named by percent-escapes comes back decoded; as a resolver looks it up (IDNA), it
  // stays ASCII like the rest of the address. A host without an IDNA form is refused.
  if (curl_url_get(url.get(), CURLUPART_URL, &whole, CURLU_PUNYCODE) != CURLUE_OK)
    return {};
  const CurlText owned(whole);
  return whole;
}

}  // namespace web
