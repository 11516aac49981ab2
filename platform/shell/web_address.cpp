#include "platform/shell/web_address.h"

#include <curl/curl.h>
#include <iconv.h>
#include <idn2.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/shell/shell.h"

namespace shell {
namespace {

// Spaces and control characters (DEL included) have no place in an address; xdg-open and the
// handlers behind it would read them in ways of their own.
bool has_control_or_space(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F)
      return true;
  }
  return false;
}

// Local text to UTF-8; nothing when it does not decode.
std::optional<std::string> local_to_utf8(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii)
    return std::string(text);
  iconv_t cd = iconv_open("UTF-8", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return std::nullopt;
  // One local byte becomes at most three UTF-8 bytes.
  std::string out(text.size() * 3, '\0');
  std::string in(text);
  char* in_ptr = in.data();
  size_t in_left = in.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  const size_t converted = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (converted == static_cast<size_t>(-1) || in_left != 0)
    return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

bool is_high_byte(unsigned char byte) {
  return byte >= 0x80;
}

// Characters that shells give a meaning of their own (quoting, substitution, separators,
// globbing, history) and that some handlers pass through a command line or an Exec key.
bool is_handler_special(unsigned char byte) {
  constexpr std::string_view kSpecial = "`$'\";()*!";
  return kSpecial.find(static_cast<char>(byte)) != std::string_view::npos;
}

std::string percent_encode(std::string_view text, bool (*encode)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!encode(byte)) {
      out.push_back(c);
      continue;
    }
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
  }
  return out;
}

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

std::optional<std::string> url_part(CURLU* url, CURLUPart part) {
  char* raw = nullptr;
  if (curl_url_get(url, part, &raw, 0) != CURLUE_OK || !raw)
    return std::nullopt;
  const CurlText owned(raw);
  return std::string(owned.get());
}

// curl reads "http:/host" and "http:///host" as "http://host/"; an address we pass on names
// its host after exactly two slashes, as written.
bool has_authority(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos)
    return false;
  const std::string_view rest = text.substr(colon + 1);
  return rest.size() > 2 && rest.starts_with("//") && rest[2] != '/';
}

// Where the authority (host and port) of a text that has_authority accepts starts and ends,
// as curl reads it.
std::pair<size_t, size_t> authority_span(std::string_view text) {
  const size_t begin = text.find(':') + 3;
  const size_t end = text.find_first_of("/?#", begin);
  return {begin, end == std::string_view::npos ? text.size() : end};
}

bool is_ascii(std::string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return is_high_byte(static_cast<unsigned char>(c)); });
}

// Letters, digits, hyphens and dots, as host names are written. IDNA mapping can turn
// full-width forms into "@", "\", "|" and the like, which must not come out in a host.
bool is_ldh_name(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
  });
}

// An international (UTF-8) host name in its IDNA form, as a resolver looks it up; nothing when
// it has none.
std::optional<std::string> idna_host(const std::string& host) {
  char* raw = nullptr;
  const int result = idn2_to_ascii_8z(host.c_str(), &raw, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
  const std::unique_ptr<char, decltype(&idn2_free)> owned(raw, &idn2_free);
  if (result != IDN2_OK || !owned)
    return std::nullopt;
  std::string ascii(owned.get());
  if (!is_ldh_name(ascii))
    return std::nullopt;
  return ascii;
}

// The UTF-8 text with an international host replaced by its IDNA form; nothing when the
// authority holds user information, a backslash or a percent-escape, or the host does not
// convert.
std::optional<std::string> with_ascii_host(std::string text) {
  const auto [begin, end] = authority_span(text);
  const std::string_view authority = std::string_view(text).substr(begin, end - begin);
  // No "user:password@" or "user@": a reader takes what comes before "@" for the host.
  if (authority.find('@') != std::string_view::npos)
    return std::nullopt;
  // Handlers that read "\" as "/" end the authority there, and so see another host.
  if (authority.find('\\') != std::string_view::npos)
    return std::nullopt;
  // curl decodes escapes in a host name, so "%EF%BC%A0" would come out as a full-width "@"
  // that no IDNA check below has seen.
  if (authority.find('%') != std::string_view::npos)
    return std::nullopt;
  // A port follows the first colon; a bracketed literal is ASCII and stays as it is.
  const size_t host_size = std::min(authority.find(':'), authority.size());
  const std::string_view host = authority.substr(0, host_size);
  if (is_ascii(host))
    return text;
  const std::optional<std::string> ascii = idna_host(std::string(host));
  if (!ascii)
    return std::nullopt;
  text.replace(begin, host_size, *ascii);
  return text;
}

}  // namespace

std::optional<std::string> web_address(std::string_view text) {
  if (text.size() > kMaxAddressBytes || has_control_or_space(text))
    return std::nullopt;
  if (!has_authority(text))
    return std::nullopt;
  // Checked as UTF-8: in local text "@" and "\" can be the second byte of a character.
  const std::optional<std::string> utf8 = local_to_utf8(text);
  if (!utf8)
    return std::nullopt;
  const std::optional<std::string> ascii_host = with_ascii_host(*utf8);
  if (!ascii_host)
    return std::nullopt;
  const std::string encoded = percent_encode(*ascii_host, is_high_byte);

  const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url)
    return std::nullopt;
  // No default or guessed scheme and no unknown schemes: the text must name one itself.
  if (curl_url_set(url.get(), CURLUPART_URL, encoded.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  const std::optional<std::string> scheme = url_part(url.get(), CURLUPART_SCHEME);
  if (!scheme || (*scheme != "http" && *scheme != "https"))
    return std::nullopt;
  const std::optional<std::string> host = url_part(url.get(), CURLUPART_HOST);
  if (!host || host->empty())
    return std::nullopt;
  const std::optional<std::string> whole = url_part(url.get(), CURLUPART_URL);
  if (!whole || has_control_or_space(*whole))
    return std::nullopt;
  if (!whole->starts_with("http://") && !whole->starts_with("https://"))
    return std::nullopt;
  // curl refuses these characters in a host, so only path, query and fragment can hold them.
  const size_t path = authority_span(*whole).second;
  return whole->substr(0, path) +
         percent_encode(std::string_view(*whole).substr(path), is_handler_special);
}

}  // namespace shell
