#include "web/web_request.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/inet/wininet.h"
#include "runtime/byte_buffer.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "web/address.h"
#include "web/codepage.h"
#include "web/cookies.h"
#include "web/text_ops.h"
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

using text_ops::Case;

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
constexpr int32_t kHeaderBuffer = 5000;

// The response body is read straight into a byte-set block: its header first, then the bytes
// as they come. The block doubles as bytes arrive, which keeps appending linear, and a step stops
// at the length the response declares, so a body that comes whole fills its block exactly; a
// length that lies costs no more than the doubling. The block is capped where a byte set's length
// ends, and the finished block is handed over as it is, without a last copy.
constexpr size_t kLargestBodyBlock = INT32_MAX;
// A read asks for all the room the block has; a full block first grows by at least this much.
constexpr size_t kReadChunk = size_t{64} << 10;
// Once the declared body is all there, a read only looks for its end (or for bytes past it).
constexpr uint32_t kEndProbe = 1024;
constexpr uint32_t kQueryDeclaredLength = inet::kQueryContentLength | inet::kQueryFlagNumber;

rt::ByteBuffer body_buffer(std::optional<uint32_t> declared) {
  rt::ByteBuffer body(rt::ByteBuffer::Growth::kGeometric, kLargestBodyBlock);
  if (declared)
    body.expect(rt::kBytesHeader + size_t{*declared});
  const uint8_t header[rt::kBytesHeader] = {};
  body.append(header, sizeof header);  // written when the length is known
  return body;
}

// The length the response declares, when it declares one.
std::optional<uint32_t> declared_length(inet::Handle request) {
  uint32_t length = 0;
  uint32_t size = sizeof length;
  if (!rt::dll_function<inet::HttpQueryInfoFn>(rt::kImportHttpQueryInfoA)(
          request, kQueryDeclaredLength, &length, &size, nullptr)) {
    return std::nullopt;
  }
  return length;
}

// Reads the body to its end (or to the block's cap) into `body`.
void read_body(inet::Handle request, rt::ByteBuffer& body, std::optional<uint32_t> declared) {
  auto* read = rt::dll_function<inet::InternetReadFileFn>(rt::kImportInternetReadFile);
  const size_t whole = declared ? rt::kBytesHeader + size_t{*declared} : 0;
  for (;;) {
    uint8_t end_probe[kEndProbe];
    uint8_t* room = nullptr;
    size_t room_size = body.capacity() - body.size();
    if (room_size > 0) {
      room = body.room_for(room_size);  // the rest of the block
    } else if (declared && body.size() == whole) {
      room = end_probe;  // the declared body is all there
      room_size = sizeof end_probe;
    } else {
      size_t step = std::min(kReadChunk, body.max_size() - body.size());
      if (declared && body.size() < whole)
        step = std::min(step, whole - body.size());
      room = step > 0 ? body.room_for(step) : nullptr;
      room_size = body.capacity() - body.size();
    }
    if (!room)
      break;
    const auto asked = static_cast<uint32_t>(std::min<size_t>(room_size, UINT32_MAX));
    uint32_t count = 0;
    read(request, room, asked, &count);
    if (count == 0)
      break;
    if (room != end_probe) {
      body.commit(std::min(count, asked));
    } else if (!body.append(end_probe, std::min(count, asked))) {
      break;
    }
  }
}

// The byte set of the body read; the empty one when nothing came.
rt::Bytes finished_body(rt::ByteBuffer& body) {
  if (body.size() <= rt::kBytesHeader)
    return {};
  const int32_t marker = 1;
  const auto length = static_cast<int32_t>(body.size() - rt::kBytesHeader);
  std::memcpy(body.data(), &marker, 4);
  std::memcpy(body.data() + 4, &length, 4);
  const rt::ByteBuffer::Block block = body.release();
  return rt::Bytes::adopt(static_cast<uint8_t*>(rt::reallocate(block.data, block.size)));
}

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

std::string agent_for(std::string_view headers) {
  if (text_ops::find(headers, "User-Agent:", 1, Case::kFoldAscii) == -1)
    return kDefaultAgent;
  const std::string terminated = std::string(headers) + "\r\n";
  std::string agent =
      text_ops::trim_both_ends(text_ops::between(terminated, "User-Agent:", "\r\n"));
  if (!agent.empty())
    return agent;
  return text_ops::after_colon(headers);
}

// The caller's header block with the default lines added, in this order.
std::string completed_headers(std::string block, std::string_view address, bool post,
                              std::string_view cookies) {
  const auto lacks = [&block](std::string_view name) { return text_ops::find(block, name) == -1; };
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
  if (!cookies.empty() && !holds_control_byte(cookies)) {
    block += text_ops::find(cookies, "Cookie:") != -1 ? "\r\n" : "\r\nCookie: ";
    block += cookies;
  }
  return block;
}

// The first name=value pair of every "Set-Cookie" line, joined by "; ".
std::string cookies_set_by(std::string_view header_block) {
  std::string cookies;
  for (const std::string& line : text_ops::split(header_block, "\r\n")) {
    if (text_ops::find(line, "Set-Cookie") == -1)
      continue;
    const std::string item =
        text_ops::find(line, ";") == -1
            ? text_ops::trim_both_ends(text_ops::replace(line, "Set-Cookie:", "", Case::kFoldAscii))
            : text_ops::trim_both_ends(text_ops::between(line, "Set-Cookie:", ";"));
    cookies.append(item).append("; ");
  }
  return text_ops::left(cookies, static_cast<int32_t>(cookies.size()) - 2);
}

// Where a request's results go: the caller's variables, null for those it left out.
struct ResultSlots {
  char** headers = nullptr;
  uint8_t** body_bytes = nullptr;
  char** returned_headers = nullptr;
  char** returned_cookies = nullptr;
  char** cookies = nullptr;
};

void put_text(char** slot, std::string_view value) {
  if (!slot)
    return;
  rt::free_block(*slot);
  *slot = rt::make_text(value);
}

// Writes the results of a request that took place, in the order the variables have always been
// written (one variable may stand for two arguments: the last write wins).
void deliver(const Exchange& exchange, const ResultSlots& slots) {
  if (!exchange.took_place)
    return;
  put_text(slots.headers, exchange.sent_headers);
  if (exchange.sent_body && slots.body_bytes) {
    rt::free_block(*slots.body_bytes);
    *slots.body_bytes = rt::make_bytes(exchange.sent_body->data(), exchange.sent_body->size());
  }
  put_text(slots.returned_headers, exchange.returned_headers);
  put_text(slots.returned_cookies, exchange.returned_cookies);
  if (exchange.merged_cookies)
    put_text(slots.cookies, *exchange.merged_cookies);
}

template <typename Block>
Block** variable_of(const rt::Cell& cell, rt::TypeCode kind) {
  return is_variable(cell, kind) ? cell.pointer<Block*>() : nullptr;
}

}  // namespace

Exchange exchange(const RequestInputs& in) {
  Exchange out;
  // Inputs are copied first: the views may point into the caller's variables, which are written
  // (and their old blocks freed) once this returns, and one may alias another.
  const std::string address(in.address);
  // The address ends up in the Referer line, and a page's address is the site's to choose.
  if (holds_control_byte(address))
    return out;
  const std::shared_ptr<RequestCanceller> canceller = t_canceller;
  if (canceller && canceller->abandoned())
    return out;
  int32_t method = in.method;
  if (method < 0 || method > 7)
    method = 0;
  const std::string body_text(in.body_text);
  const bool cookies_given = in.cookies.has_value();
  const std::string cookies(in.cookies.value_or(std::string_view()));
  const std::string headers(in.headers);
  std::vector<uint8_t> body_bytes(in.body_bytes.begin(), in.body_bytes.end());
  const std::string proxy(in.proxy);

  const bool secure = text_ops::to_lower_case(text_ops::left(address, 8)) == "https://";
  const std::string agent = agent_for(headers);

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
    return out;

  const std::string host = addresses::host_of(address);
  const int32_t port = addresses::port_of(address);
  inet::Handle connection = internet_library.connect(internet, host.c_str(), port, nullptr, nullptr,
                                                     inet::kServiceHttp, 0, 0);
  if (!handles.take(connection))
    return out;

  uint32_t flags = inet::kFlagReload | inet::kFlagNeedFile;
  if (cookies_given)
    flags |= inet::kFlagNoCookies;
  if (in.no_redirect)
    flags |= inet::kFlagNoAutoRedirect;
  flags |= secure ? inet::kFlagSecure : inet::kFlagIgnoreRedirectToHttps;

  const std::string path = addresses::path_of(address);
  inet::Handle request = internet_library.open_request(connection, kVerbs[method], path.c_str(),
                                                       kHttpVersion, nullptr, nullptr, flags, 0);
  if (!handles.take(request))
    return out;

  // From here on the request exists: whatever happens, the variables receive their results,
  // unless the request is abandoned.
  std::string block = completed_headers(headers, address, method == 1, cookies);
  const auto block_length = static_cast<uint32_t>(block.size());
  bool body_bytes_filled = false;
  if (method == 0) {
    rt::dll_function<inet::HttpSendRequestTextFn>(rt::kImportHttpSendRequestA)(
        request, block.c_str(), block_length, "", 0);
  } else {
    if (body_bytes.empty()) {
      body_bytes.assign(body_text.begin(), body_text.end());
      body_bytes_filled = true;
    }
    rt::dll_function<inet::HttpSendRequestBytesFn>(rt::kImportHttpSendRequestABytes)(
        request, block.c_str(), block_length, body_bytes.empty() ? nullptr : body_bytes.data(),
        static_cast<uint32_t>(body_bytes.size()));
  }

  // Each piece is read straight into the free end of the body, which the library fills from its
  // own receive buffer: one copy of every byte on the way.
  const std::optional<uint32_t> declared = declared_length(request);
  rt::ByteBuffer body = body_buffer(declared);
  read_body(request, body, declared);

  // The buffer of spaces stays as it is when the block does not fit (or there is none).
  char* buffer = rt::make_text(text_ops::spaces(kHeaderBuffer));
  const rt::Text raw_headers = rt::Text::adopt(buffer);
  uint32_t buffer_length = kHeaderBuffer;
  rt::dll_function<inet::HttpQueryInfoFn>(rt::kImportHttpQueryInfoA)(
      request, inet::kQueryRawHeadersCrlf, buffer, &buffer_length, nullptr);
  // Every spelling of the header's name comes back as "Set-Cookie".
  std::string returned_headers =
      text_ops::replace(raw_headers.view(), "Set-Cookie", "Set-Cookie", Case::kFoldAscii);

  handles.close_all();
  // Whatever came before the abandoning is not the answer to anything any more.
  if (handles.abandoned())
    return out;

  out.took_place = true;
  out.returned_headers = std::move(returned_headers);
  out.returned_cookies = cookies_set_by(out.returned_headers);
  if (in.auto_merge && cookies_given) {
    out.returned_cookies = cookie_texts::merge(cookies, out.returned_cookies).merged;
    out.merged_cookies = out.returned_cookies;
  }
  out.sent_headers = std::move(block);
  if (body_bytes_filled)
    out.sent_body = std::move(body_bytes);
  out.body = finished_body(body);
  return out;
}

namespace cmd {

void text_after_colon(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, rt::make_text(text_ops::after_colon(text_argument(args, 0))));
}

void web_request(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  RequestInputs in;
  in.address = text_argument(args, kAddress);
  in.method = args.int_or(kMethod, 0);
  in.body_text = text_argument(args, kBodyText);
  if (args.given(kCookies))
    in.cookies = text_argument(args, kCookies);
  in.headers = text_argument(args, kHeaders);
  in.no_redirect = args.flag(kNoRedirect);
  in.body_bytes = bytes_argument(args, kBodyBytes);
  in.proxy = text_argument(args, kProxy);
  in.auto_merge = args.given(kAutoMerge) ? args.at(kAutoMerge).low != 0 : true;
  Exchange done = exchange(in);
  deliver(done, {.headers = variable_of<char>(args.at(kHeaders), rt::kText),
                 .body_bytes = variable_of<uint8_t>(args.at(kBodyBytes), rt::kBytes),
                 .returned_headers = variable_of<char>(args.at(kReturnedHeaders), rt::kText),
                 .returned_cookies = variable_of<char>(args.at(kReturnedCookies), rt::kText),
                 .cookies = variable_of<char>(args.at(kCookies), rt::kText)});
  rt::set_bytes(r, done.body.release());
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
  // Each variable is taken from its owner in the order of the command's arguments and put back
  // after, as when they are lent to the command: an owner named twice lends its text once.
  TextLoan cookies(q.cookies);
  TextLoan returned_cookies(q.returned_cookies);
  TextLoan headers(q.headers);
  TextLoan returned_headers(q.returned_headers);
  BytesLoan body_bytes(q.body_bytes);
  const auto text_in = [](const char* const* variable) {
    return std::string_view(variable && *variable ? *variable : "");
  };
  RequestInputs in;
  in.address = q.address ? q.address : "";
  in.method = q.method.value_or(0);
  in.body_text = q.body_text ? q.body_text : "";
  if (cookies.variable())
    in.cookies = text_in(cookies.variable());
  in.headers = text_in(headers.variable());
  in.no_redirect = q.no_redirect.value_or(false);
  if (body_bytes.variable())
    in.body_bytes = rt::bytes_view(*body_bytes.variable());
  in.proxy = q.proxy ? q.proxy : "";
  in.auto_merge = q.auto_merge.value_or(true);
  Exchange done = exchange(in);
  deliver(done, {.headers = headers.variable(),
                 .body_bytes = body_bytes.variable(),
                 .returned_headers = returned_headers.variable(),
                 .returned_cookies = returned_cookies.variable(),
                 .cookies = cookies.variable()});
  return std::move(done.body);
}

}  // namespace web
