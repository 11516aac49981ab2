#include "web/web_request.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/inet/wininet.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "web/address.h"
#include "web/codepage.h"
#include "web/cookies.h"
#include "web/variables.h"

namespace web {

// The handles one call has open, closed in reverse order of opening. Under a canceller each is
// also kept there while open, so that abandon() can close it from another thread; a handle may
// then be closed twice, which the library refuses harmlessly since handles are never reused.
class AbandonableHandles {
 public:
  AbandonableHandles(inet::InternetCloseHandleFn* close,
                     std::shared_ptr<RequestCanceller> canceller)
      : close_(close), canceller_(std::move(canceller)) {}
  AbandonableHandles(const AbandonableHandles&) = delete;
  AbandonableHandles& operator=(const AbandonableHandles&) = delete;
  ~AbandonableHandles() { close_all(); }

  // Takes a handle just opened; false for none, or when the call was abandoned meanwhile (the
  // handle is closed at once then).
  bool take(void* handle) {
    if (!handle)
      return false;
    if (canceller_ && !canceller_->keep(handle)) {
      close_(handle);
      return false;
    }
    handles_[count_++] = handle;
    return true;
  }

  void close_all() {
    while (count_ > 0) {
      void* handle = handles_[--count_];
      if (canceller_)
        canceller_->forget(handle);
      close_(handle);
    }
  }

  bool abandoned() const { return canceller_ && canceller_->abandoned(); }

 private:
  inet::InternetCloseHandleFn* close_;
  std::shared_ptr<RequestCanceller> canceller_;
  std::array<void*, 3> handles_{};  // session, connection, request
  size_t count_ = 0;
};

namespace {

// The canceller of the innermost AbandonScope of this thread.
thread_local std::shared_ptr<RequestCanceller> t_canceller;

enum Param : int32_t {
  kAddress,
  kMethod,
  kBodyText,
  kCookies,
  kReturnedCookies,
  kHeaders,
  kReturnedHeaders,
  kNoRedirect,
  kBodyBytes,
  kProxy,
  kAutoMerge,
  kParamCount,
};

constexpr const char* kVerbs[] = {"GET",     "POST",   "HEAD",  "PUT",
                                  "OPTIONS", "DELETE", "TRACE", "CONNECT"};
constexpr const char* kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr const char* kHttpVersion = "HTTP/1.1";
constexpr uint32_t kReadChunk = 1024;
constexpr int32_t kHeaderBuffer = 5000;

// The response body, grown in place as a byte-set block: doubling keeps appending linear, and
// the finished block is handed over as it is, without a last copy.
class BodyBuffer {
 public:
  BodyBuffer() = default;
  BodyBuffer(const BodyBuffer&) = delete;
  BodyBuffer& operator=(const BodyBuffer&) = delete;
  ~BodyBuffer() { rt::free_block(block_); }

  // Room for n more bytes at the end, or null once the body would pass the largest byte set.
  uint8_t* room_for(size_t n) {
    if (n > kMaxLength - size_)
      return nullptr;
    if (size_ + n > capacity_) {
      const size_t wanted = std::max({size_ + n, capacity_ * 2, size_t{16} << 10});
      capacity_ = std::min(wanted, kMaxLength);
      block_ = static_cast<uint8_t*>(rt::reallocate(block_, rt::kBytesHeader + capacity_));
    }
    return block_ + rt::kBytesHeader + size_;
  }
  // Takes n bytes written into the room as part of the body.
  void commit(size_t n) { size_ += n; }

  rt::Bytes finish() {
    if (size_ == 0)
      return {};
    const int32_t marker = 1;
    const auto length = static_cast<int32_t>(size_);
    auto* block = static_cast<uint8_t*>(rt::reallocate(block_, rt::kBytesHeader + size_));
    block_ = nullptr;
    std::memcpy(block, &marker, 4);
    std::memcpy(block + 4, &length, 4);
    return rt::Bytes::adopt(block);
  }

 private:
  static constexpr size_t kMaxLength = INT32_MAX - rt::kBytesHeader;
  uint8_t* block_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The library's functions, resolved through the program's dynamic-library command table.
struct Internet {
  inet::InternetOpenFn* open = rt::dll_function<inet::InternetOpenFn>(rt::kImportInternetOpenA);
  inet::InternetConnectFn* connect =
      rt::dll_function<inet::InternetConnectFn>(rt::kImportInternetConnectA);
  inet::HttpOpenRequestFn* open_request =
      rt::dll_function<inet::HttpOpenRequestFn>(rt::kImportHttpOpenRequestA);
  inet::InternetCloseHandleFn* close =
      rt::dll_function<inet::InternetCloseHandleFn>(rt::kImportInternetCloseHandle);
};

// Bytes that have no place in a header line: any control byte, DEL included.
bool holds_control_byte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
  });
}

rt::Text agent_for(const char* headers) {
  if (find_text(headers, "User-Agent:", {}, true) == -1)
    return rt::Text(kDefaultAgent);
  const std::string terminated = std::string(headers) + "\r\n";
  rt::Text agent = trim_both_ends(text_between(terminated.c_str(), "User-Agent:", "\r\n").c_str());
  if (!agent.empty())
    return agent;
  return text_after_colon(headers);
}

// The caller's header block with the default lines added, in this order.
std::string completed_headers(std::string block, const char* address, bool post,
                              const char* cookies) {
  const auto lacks = [&block](const char* name) { return find_text(block.c_str(), name) == -1; };
  if (block.empty()) {
    block = "Accept: */*";
  } else if (lacks("Accept:")) {
    block += "\r\nAccept: */*";
  }
  if (lacks("Referer:"))
    block.append("\r\nReferer: ").append(address);
  if (lacks("Accept-Language:"))
    block += "\r\nAccept-Language: zh-cn";
  if (post && lacks("Content-Type:")) {
    block += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  // Cookies come back from the site; ones that could break the line are not sent at all.
  if (*cookies && !holds_control_byte(cookies)) {
    block += find_text(cookies, "Cookie:") != -1 ? "\r\n" : "\r\nCookie: ";
    block += cookies;
  }
  return block;
}

// The first name=value pair of every "Set-Cookie" line, joined by "; ".
rt::Text cookies_set_by(const char* header_block) {
  const rt::Array lines = split_text(header_block, "\r\n");
  std::string cookies;
  for (size_t i = 0; i < lines.size(); ++i) {
    const char* line = lines.text_at(i) ? lines.text_at(i) : "";
    if (find_text(line, "Set-Cookie") == -1)
      continue;
    const rt::Text item =
        find_text(line, ";") == -1
            ? trim_both_ends(replace_text(line, "Set-Cookie:", "", {}, {}, false).c_str())
            : trim_both_ends(text_between(line, "Set-Cookie:", ";").c_str());
    cookies.append(item.view()).append("; ");
  }
  return text_left(cookies.c_str(), static_cast<int32_t>(cookies.size()) - 2);
}

}  // namespace

namespace cmd {

void text_after_colon(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const char* text = text_argument(args, 0);
  const int32_t colon = web::find_text(text, ":");
  if (colon == -1) {
    rt::set_text(r, nullptr);
    return;
  }
  const rt::Text rest = web::text_right(text, web::text_len(text) - colon);
  rt::set_text(r, web::trim_both_ends(rest.c_str()).release());
}

void web_request(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bytes(r, nullptr);

  // Inputs are copied first: variables are written at the end, and one may alias another.
  const std::string address = text_argument(args, kAddress);
  // The address ends up in the Referer line, and a page's address is the site's to choose.
  if (holds_control_byte(address))
    return;
  const std::shared_ptr<RequestCanceller> canceller = t_canceller;
  if (canceller && canceller->abandoned())
    return;
  int32_t method = args.int_or(kMethod, 0);
  if (method < 0 || method > 7)
    method = 0;
  const std::string body_text = text_argument(args, kBodyText);
  const bool cookies_given = args.given(kCookies);
  const std::string cookies = text_argument(args, kCookies);
  const std::string headers = text_argument(args, kHeaders);
  const bool no_redirect = args.flag(kNoRedirect);
  const std::span<const uint8_t> given_body = bytes_argument(args, kBodyBytes);
  rt::Bytes body_bytes(given_body);
  const std::string proxy = text_argument(args, kProxy);
  const bool auto_merge = args.given(kAutoMerge) ? args.at(kAutoMerge).low != 0 : true;

  const bool secure =
      web::to_lower_case(web::text_left(address.c_str(), 8).c_str()).view() == "https://";
  const rt::Text agent = agent_for(headers.c_str());

  const Internet internet_library;
  AbandonableHandles handles(internet_library.close, canceller);
  inet::Handle internet = nullptr;
  if (proxy.empty()) {
    internet = internet_library.open(agent.c_str(), inet::kOpenTypeDirect, nullptr, nullptr, 0);
  } else {
    const std::string proxy_text = secure ? proxy : "http=" + proxy;
    internet =
        internet_library.open(agent.c_str(), inet::kOpenTypeProxy, proxy_text.c_str(), "", 0);
  }
  if (!handles.take(internet))
    return;

  const rt::Text host = web::host_of_address(address.c_str());
  const int32_t port = web::port_of_address(address.c_str());
  inet::Handle connection = internet_library.connect(internet, host.c_str(), port, nullptr, nullptr,
                                                     inet::kServiceHttp, 0, 0);
  if (!handles.take(connection))
    return;

  uint32_t flags = inet::kFlagReload | inet::kFlagNeedFile;
  if (cookies_given)
    flags |= inet::kFlagNoCookies;
  if (no_redirect)
    flags |= inet::kFlagNoAutoRedirect;
  flags |= secure ? inet::kFlagSecure : inet::kFlagIgnoreRedirectToHttps;

  const rt::Text path = web::path_of_address(address.c_str());
  inet::Handle request = internet_library.open_request(connection, kVerbs[method], path.c_str(),
                                                       kHttpVersion, nullptr, nullptr, flags, 0);
  if (!handles.take(request))
    return;

  // From here on the request exists: whatever happens, the variables receive their results,
  // unless the request is abandoned.
  const std::string block =
      completed_headers(headers, address.c_str(), method == 1, cookies.c_str());
  const auto block_length = static_cast<uint32_t>(block.size());
  bool body_bytes_filled = false;
  if (method == 0) {
    rt::dll_function<inet::HttpSendRequestTextFn>(rt::kImportHttpSendRequestA)(
        request, block.c_str(), block_length, "", 0);
  } else {
    if (body_bytes.empty()) {
      body_bytes = web::to_bytes(rt::Cell::of_pointer(body_text.c_str(), rt::kText));
      body_bytes_filled = true;
    }
    rt::dll_function<inet::HttpSendRequestBytesFn>(rt::kImportHttpSendRequestABytes)(
        request, block.c_str(), block_length, body_bytes.empty() ? nullptr : body_bytes.data(),
        static_cast<uint32_t>(body_bytes.size()));
  }

  // Each piece is read straight into the free end of the body: the same bytes as reading into a
  // buffer of its own and appending them, one copy fewer.
  auto* read = rt::dll_function<inet::InternetReadFileFn>(rt::kImportInternetReadFile);
  BodyBuffer body;
  for (;;) {
    uint8_t* room = body.room_for(kReadChunk);
    if (!room)
      break;
    uint32_t count = 0;
    read(request, room, kReadChunk, &count);
    if (count == 0)
      break;
    body.commit(std::min(count, kReadChunk));
  }

  // The buffer of spaces stays as it is when the block does not fit (or there is none).
  rt::Text raw_headers = web::spaces_text(kHeaderBuffer);
  char* buffer = raw_headers.release();
  uint32_t buffer_length = kHeaderBuffer;
  rt::dll_function<inet::HttpQueryInfoFn>(rt::kImportHttpQueryInfoA)(
      request, inet::kQueryRawHeadersCrlf, buffer, &buffer_length, nullptr);
  raw_headers.reset(buffer);
  rt::Text returned_headers =
      web::replace_text(raw_headers.c_str(), "Set-Cookie", "Set-Cookie", {}, {}, false);

  handles.close_all();
  // Whatever came before the abandoning is not the answer to anything any more.
  if (handles.abandoned())
    return;

  rt::Text returned_cookies = cookies_set_by(returned_headers.c_str());
  rt::Text merged_cookies;
  const bool merge = auto_merge && cookies_given;
  if (merge) {
    rt::Text old_cookies(cookies);
    returned_cookies = web::merge_cookies(old_cookies, returned_cookies);
    merged_cookies = std::move(old_cookies);
  }

  store_text(args.at(kHeaders), rt::Text(block));
  if (body_bytes_filled)
    store_bytes(args.at(kBodyBytes), std::move(body_bytes));
  store_text(args.at(kReturnedHeaders), std::move(returned_headers));
  store_text(args.at(kReturnedCookies), std::move(returned_cookies));
  if (merge)
    store_text(args.at(kCookies), std::move(merged_cookies));
  rt::set_bytes(r, body.finish().release());
}

}  // namespace cmd

void RequestCanceller::abandon() {
  std::vector<void*> open;
  {
    std::lock_guard guard(lock_);
    abandoned_ = true;
    open.swap(handles_);
  }
  if (open.empty())
    return;
  // Outside the lock: closing a request may end its transfer here. The request goes first, so
  // that a call blocked on it returns before its connection and session go.
  auto* close = rt::dll_function<inet::InternetCloseHandleFn>(rt::kImportInternetCloseHandle);
  for (auto it = open.rbegin(); it != open.rend(); ++it) close(*it);
}

bool RequestCanceller::abandoned() const {
  std::lock_guard guard(lock_);
  return abandoned_;
}

bool RequestCanceller::keep(void* handle) {
  std::lock_guard guard(lock_);
  if (abandoned_)
    return false;
  handles_.push_back(handle);
  return true;
}

void RequestCanceller::forget(void* handle) {
  std::lock_guard guard(lock_);
  std::erase(handles_, handle);
}

AbandonScope::AbandonScope(std::shared_ptr<RequestCanceller> canceller)
    : outer_(std::exchange(t_canceller, std::move(canceller))) {}

AbandonScope::~AbandonScope() {
  t_canceller = std::move(outer_);
}

rt::Bytes web_request(const WebRequest& q) {
  TextLoan cookies(q.cookies);
  TextLoan returned_cookies(q.returned_cookies);
  TextLoan headers(q.headers);
  TextLoan returned_headers(q.returned_headers);
  BytesLoan body_bytes(q.body_bytes);
  const auto text_or_omitted = [](const char* text) {
    return text ? rt::to_cell(text) : rt::Cell{};
  };
  const std::array<rt::Cell, kParamCount> cells{
      rt::to_cell(q.address),   rt::to_cell(q.method),      text_or_omitted(q.body_text),
      cookies.cell(),           returned_cookies.cell(),    headers.cell(),
      returned_headers.cell(),  rt::to_cell(q.no_redirect), body_bytes.cell(),
      text_or_omitted(q.proxy), rt::to_cell(q.auto_merge),
  };
  return rt::Bytes::adopt(
      rt::call_command(&cmd::web_request, kParamCount, cells.data()).pointer<uint8_t>());
}

}  // namespace web
