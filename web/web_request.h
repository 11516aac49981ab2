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
//
// A request made on a thread inside an AbandonScope can be abandoned from any other thread
// through its RequestCanceller: it then ends at once (while connecting, sending or reading),
// gives the empty byte set and leaves every variable alone, as does every later request of that
// canceller, which opens nothing.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// One request as plain C++ values: what the command and web_request above run. Views are read
// before anything is opened and not kept.
struct RequestInputs {
  std::string_view address;
  int32_t method = 0;  // HttpMethod; outside 0 to 7 counts as GET
  std::string_view body_text;
  std::optional<std::string_view> cookies;  // left out: the library keeps cookies itself
  std::string_view headers;
  bool no_redirect = false;
  std::span<const uint8_t> body_bytes;
  std::string_view proxy;
  bool auto_merge = true;
};

// What a request gives. Unless it took place (it was refused, could not be opened or was
// abandoned) there is only the empty body: the callers' variables are then left alone.
struct Exchange {
  rt::Bytes body;  // the block as it was read, handed on without a copy
  bool took_place = false;
  std::string sent_headers;                       // the header block sent
  std::optional<std::vector<uint8_t>> sent_body;  // when the body was made from body_text
  std::string returned_headers;
  std::string returned_cookies;               // merged when cookies were given and auto_merge
  std::optional<std::string> merged_cookies;  // for the cookies variable, when merged
};

Exchange exchange(const RequestInputs& request);

// Shared between the thread that may abandon requests and the worker making them.
class RequestCanceller {
 public:
  RequestCanceller() = default;
  RequestCanceller(const RequestCanceller&) = delete;
  RequestCanceller& operator=(const RequestCanceller&) = delete;

  // Ends the requests in progress under this canceller and refuses every later one, for good.
  // Any thread, any number of times; returns without waiting for the requests to unwind.
  void abandon();
  bool abandoned() const;

 private:
  friend class AbandonableHandles;
  // A handle of a request in progress, for abandon() to close; false once abandoned.
  bool keep(void* handle);
  void forget(void* handle);

  mutable std::mutex lock_;
  bool abandoned_ = false;
  std::vector<void*> handles_;
};

// While it lives, every web_request made on this thread is abandoned by `canceller`. Scopes nest;
// the innermost counts. Ended on the thread that made it.
class AbandonScope {
 public:
  explicit AbandonScope(std::shared_ptr<RequestCanceller> canceller);
  AbandonScope(const AbandonScope&) = delete;
  AbandonScope& operator=(const AbandonScope&) = delete;
  ~AbandonScope();

 private:
  std::shared_ptr<RequestCanceller> outer_;
};

inline rt::Text text_after_colon(const char* header_text) {
  return rt::call_text(&cmd::text_after_colon, header_text);
}

}  // namespace web
