// One HTTP request through the platform's internet library: the body comes back as a byte set.
//
// Around the exchange itself: the header block is completed with defaults (Accept, Referer,
// Accept-Language, a form Content-Type for POST, the caller's cookies), "https://" addresses go
// over secure transport, a proxy may be named, and the cookies the response sets are collected
// and, when the caller sent cookies of its own, merged into them. Failures are not reported: an
// address that cannot be reached gives the empty byte set and leaves every variable alone; a
// failed send or read gives a shorter or empty body (a body past the library's cap gives the
// bytes up to the cap).
//
// Addresses come from the film site's pages, so none may reach a header line as more than one
// line: an address holding a control byte (below 0x20, or 0x7F) is refused before anything is
// opened, like an unreachable one. Cookies holding a control byte are not sent; the rest of the
// request goes out as it would.
#pragma once

#include <optional>

#include "web/commands.h"

namespace web {

namespace cmd {
// (address, [int method], [text body_text], [text variable cookies],
//  [text variable returned_cookies], [text variable headers], [text variable returned_headers],
//  [bool no_redirect], [byte-set variable body_bytes], [text proxy], [bool auto_merge])
//  -> byte set
void web_request(rt::Cell* r, int32_t n, const rt::Cell* a);
// (header text) -> text: what follows the first ":", trimmed; empty without a ":".
void text_after_colon(rt::Cell* r, int32_t n, const rt::Cell* a);
}  // namespace cmd

enum class HttpMethod : int32_t {
  kGet = 0,
  kPost,
  kHead,
  kPut,
  kOptions,
  kDelete,
  kTrace,
  kConnect,
};

// The parameters of one request. Null pointers and empty optionals are left out; a left-out
// `cookies` differs from an empty one (only given cookies turn the library's own cookie store
// off and get merged).
struct WebRequest {
  const char* address = "";
  std::optional<int32_t> method = std::nullopt;  // HttpMethod; outside 0 to 7 counts as GET
  const char* body_text = nullptr;       // sent when body_bytes is empty and the method is not GET
  rt::Text* cookies = nullptr;           // in/out: "a=1; b=2" or a whole "Cookie: ..." line
  rt::Text* returned_cookies = nullptr;  // out: the response's cookies (merged, see above)
  rt::Text* headers = nullptr;           // in/out: extra lines joined by "\r\n"; the block sent
  rt::Text* returned_headers = nullptr;  // out: status line and header lines, each + "\r\n"
  std::optional<bool> no_redirect = std::nullopt;
  rt::Bytes* body_bytes = nullptr;                // in/out: the body sent (filled from body_text)
  const char* proxy = nullptr;                    // "host:port"; empty: direct
  std::optional<bool> auto_merge = std::nullopt;  // default true
};

rt::Bytes web_request(const WebRequest& request);

inline rt::Text text_after_colon(const char* header_text) {
  return rt::call_text(&cmd::text_after_colon, header_text);
}

}  // namespace web
