// The exported functions: handle bookkeeping, argument checks and the call log around the
// transfer itself (transfer.cpp).
#include "platform/inet/wininet.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/inet/close_signal.h"
#include "platform/inet/handles.h"
#include "platform/inet/proxy.h"
#include "platform/inet/tcp_connect.h"
#include "platform/inet/transfer.h"

namespace inet {
namespace {

struct Session final : HandleObject {
  static constexpr HandleKind kKind = HandleKind::kSession;
  Session() : HandleObject(kKind) {}
  void closed() override { closing.raise(); }
  std::string agent;
  std::optional<ProxyList> proxies;  // nothing: direct
  CloseSignal closing;               // ends a connect under way for this session
};

struct Connection final : HandleObject {
  static constexpr HandleKind kKind = HandleKind::kConnection;
  Connection() : HandleObject(kKind) {}
  std::shared_ptr<Session> session;
  std::string host;
  uint16_t port = 0;  // 0: the default port of the request's scheme

  std::mutex lock;
  // Connected when the handle was opened; the first request sent takes it over.
  std::optional<ConnectedSocket> connected;
  std::string connected_name;  // "host:port" of that peer
};

struct Request final : HandleObject {
  static constexpr HandleKind kKind = HandleKind::kRequest;
  Request() : HandleObject(kKind) {}
  void closed() override { closing->raise(); }
  std::shared_ptr<Connection> connection;
  std::string verb;
  std::string path;
  bool http10 = false;
  std::string referrer;
  std::string accept;
  uint32_t flags = 0;

  // Raised without the lock below: the call that holds it may be waiting for the server.
  const std::shared_ptr<CloseSignal> closing = std::make_shared<CloseSignal>();
  std::mutex lock;  // one call at a time drives the transfer
  std::unique_ptr<Transfer> transfer;
};

// --- Limits ---

struct LimitSettings {
  std::mutex lock;
  Limits limits;
  std::string ca_file;
};

LimitSettings& limit_settings() {
  static LimitSettings* settings = new LimitSettings;  // read by requests until process exit
  return *settings;
}

Limits current_limits(std::string& ca_file) {
  LimitSettings& s = limit_settings();
  std::lock_guard guard(s.lock);
  ca_file = s.ca_file;
  return s.limits;
}

// --- Call log ---

std::atomic<CallObserver> g_observer{nullptr};
std::atomic<void*> g_observer_context{nullptr};

std::string quoted(const char* text, size_t length) {
  std::string out = "\"";
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
std::string quoted(const char* text) {
  return text ? quoted(text, std::strlen(text)) : "null";
}
std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", v);
  return text;
}
std::string number(uint64_t v) {
  return std::to_string(v);
}

// Builds the line only when someone listens.
template <typename Describe>
void log_call(Describe describe) {
  const CallObserver observer = g_observer.load(std::memory_order_acquire);
  if (!observer)
    return;
  const std::string line = describe();
  observer(g_observer_context.load(std::memory_order_acquire), line.c_str());
}

// --- Texts from the caller ---

// Bytes a header line may not hold: CR and LF would end it, and no other control byte (TAB
// aside) has any business in one; servers and proxies disagree on what they mean.
bool breaks_header_line(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return (c < 0x20 && c != '\t') || c == 0x7F;
}

// A text for one header value: up to the first byte that may not stand in a header line.
std::string single_line(const char* text) {
  if (!text)
    return {};
  const std::string_view view(text);
  return std::string(
      view.substr(0, std::find_if(view.begin(), view.end(), breaks_header_line) - view.begin()));
}

bool is_token(std::string_view verb) {
  if (verb.empty() || verb.size() > 32)
    return false;
  for (char c : verb) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && !std::strchr("!#$%&'*+-.^_`|~", c))
      return false;
  }
  return true;
}

bool has_header(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    if (line.size() <= name.size() || line[name.size()] != ':')
      continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      same = (line[i] | 0x20) == (name[i] | 0x20);
    }
    if (same)
      return true;
  }
  return false;
}

// The caller's header block as lines, split at "\r\n" only. A line that still holds a lone CR
// or LF, or any other byte a header line may not hold, is left out whole: cutting it short could
// send half a value that means something else, and splitting it at a lone break is what would
// let a value start a header of its own.
std::vector<std::string> header_lines(std::string_view block) {
  std::vector<std::string> lines;
  while (!block.empty()) {
    const size_t end = block.find("\r\n");
    const std::string_view line = block.substr(0, end);
    if (!line.empty() && std::none_of(line.begin(), line.end(), breaks_header_line))
      lines.emplace_back(line);
    if (end == std::string_view::npos)
      break;
    block.remove_prefix(end + 2);
  }
  return lines;
}

// The request target as a URL path: bytes that may not stand in one are percent-encoded.
std::string encoded_path(std::string_view path) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  if (path.empty() || path.front() != '/')
    out += '/';
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string without_brackets(const std::string& host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

std::string host_port(const std::string& host, uint16_t port) {
  return host + ":" + std::to_string(port);
}

// --- The calls ---

Handle open_session(const char* agent, uint32_t open_type, const char* proxy, uint32_t flags) {
  constexpr uint32_t kFlagAsync = 0x10000000;  // callbacks are not offered
  if (flags & kFlagAsync)
    return nullptr;
  auto session = std::make_shared<Session>();
  session->agent = single_line(agent);
  switch (open_type) {
    case kOpenTypePreconfig:
    case kOpenTypeDirect:
    case kOpenTypePreconfigNoAutoProxy:
      break;
    case kOpenTypeProxy:
      session->proxies = parse_proxy_list(proxy ? proxy : "");
      if (!session->proxies)
        return nullptr;
      break;
    default:
      return nullptr;
  }
  initialise_curl();  // before any request, whichever thread comes first
  return open_handle(std::move(session));
}

Handle open_connection(Handle session_handle, const char* host, int32_t port, uint32_t service) {
  auto session = find<Session>(session_handle);
  if (!session || !host || !is_plain_host(host) || port < 0 || port > 65535 ||
      service != kServiceHttp) {
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  connection->session = session;
  connection->host = host;
  connection->port = static_cast<uint16_t>(port);

  // Connect now, to the proxy when there is one, so that an unreachable peer fails here. With
  // port 0 the port depends on the request's scheme: that connection waits for the request.
  std::string peer_host = connection->host;
  uint16_t peer_port = connection->port;
  if (session->proxies) {
    const ProxyServer* proxy = session->proxies->likely();
    peer_host = proxy->host;
    peer_port = proxy->port;
  }
  if (peer_port != 0) {
    std::string ca_file;
    const Limits limits = current_limits(ca_file);
    connection->connected =
        connect_tcp(without_brackets(peer_host), peer_port,
                    std::chrono::milliseconds(limits.connect_timeout_ms), session->closing);
    if (!connection->connected || session->closing.raised())
      return nullptr;
    connection->connected_name = host_port(peer_host, peer_port);
  }
  return open_handle(std::move(connection));
}

Handle open_request(Handle connection_handle, const char* verb, const char* object,
                    const char* version, const char* referrer, const char* const* accept_types,
                    uint32_t flags) {
  auto connection = find<Connection>(connection_handle);
  if (!connection)
    return nullptr;
  auto request = std::make_shared<Request>();
  request->connection = connection;
  request->verb = verb && *verb ? verb : "GET";
  if (!is_token(request->verb))
    return nullptr;
  request->path = object && *object ? object : "/";
  const std::string_view v = version ? version : "";
  if (v == "HTTP/1.0") {
    request->http10 = true;
  } else if (!v.empty() && v != "HTTP/1.1") {
    return nullptr;
  }
  request->referrer = single_line(referrer);
  for (const char* const* type = accept_types; type && *type; ++type) {
    if (!request->accept.empty())
      request->accept += ", ";
    request->accept += single_line(*type);
  }
  request->flags = flags;
  return open_handle(std::move(request));
}

int32_t send_request(Handle request_handle, std::string_view headers, const void* body,
                     uint32_t body_length) {
  auto request = find<Request>(request_handle);
  if (!request || (!body && body_length > 0))
    return 0;
  const Connection& connection = *request->connection;
  const Session& session = *connection.session;
  const uint32_t flags = request->flags;
  const bool secure = (flags & kFlagSecure) != 0;
  const uint16_t port = connection.port != 0 ? connection.port : (secure ? 443 : 80);

  TransferSetup setup;
  setup.url = std::string(secure ? "https://" : "http://") + connection.host;
  if (connection.port != 0)
    setup.url += ":" + std::to_string(port);
  setup.url += encoded_path(request->path);
  setup.verb = request->verb;
  setup.http10 = request->http10;
  setup.agent = session.agent;
  const ProxyServer* proxy = session.proxies ? session.proxies->for_scheme(secure) : nullptr;
  if (proxy)
    setup.proxy_url = proxy->url();

  // The caller's lines go out as given. The library adds only host, agent and body length, a
  // "no-cache" for a reload, and the request's referrer and accept types; it keeps libcurl from
  // adding anything else of its own.
  setup.header_lines = header_lines(headers);
  auto& lines = setup.header_lines;
  const bool sends_body = body_length > 0 || request->verb == "POST";
  if (!request->referrer.empty() && !has_header(lines, "Referer")) {
    lines.push_back("Referer: " + request->referrer);
  }
  if (!has_header(lines, "Accept")) {
    lines.push_back(request->accept.empty() ? "Accept:" : "Accept: " + request->accept);
  }
  if ((flags & kFlagReload) && !has_header(lines, "Cache-Control")) {
    lines.push_back("Cache-Control: no-cache");
  }
  if (sends_body && !has_header(lines, "Content-Type"))
    lines.push_back("Content-Type:");
  if (sends_body && !has_header(lines, "Expect"))
    lines.push_back("Expect:");

  if (sends_body) {
    const auto* bytes = static_cast<const uint8_t*>(body);
    setup.body.emplace(bytes, bytes + body_length);
  }
  setup.follow_redirects = (flags & kFlagNoAutoRedirect) == 0;
  if (secure) {
    setup.redirect_protocols = (flags & kFlagIgnoreRedirectToHttp) ? "http,https" : "https";
  } else {
    setup.redirect_protocols = (flags & kFlagIgnoreRedirectToHttps) ? "http,https" : "http";
  }
  setup.cookie_store = (flags & kFlagNoCookies) == 0;
  setup.limits = current_limits(setup.ca_file);
  setup.closing = request->closing;

  // The socket connected at the connect step serves the first hop when it leads there.
  const std::string first_hop =
      proxy ? host_port(proxy->host, proxy->port) : host_port(connection.host, port);
  {
    std::lock_guard guard(request->connection->lock);
    if (request->connection->connected && request->connection->connected_name == first_hop) {
      setup.connected = std::move(request->connection->connected);
      setup.connected_name = first_hop;
    }
    request->connection->connected.reset();
  }

  std::lock_guard guard(request->lock);
  request->transfer.reset();  // a request sent again starts afresh
  request->transfer = Transfer::start(std::move(setup));
  return request->transfer && request->transfer->wait_for_response() ? 1 : 0;
}

int32_t read_body(Handle request_handle, void* buffer, uint32_t to_read, uint32_t* bytes_read) {
  if (!bytes_read)
    return 0;
  *bytes_read = 0;
  auto request = find<Request>(request_handle);
  if (!request || (!buffer && to_read > 0))
    return 0;
  std::lock_guard guard(request->lock);
  if (!request->transfer)
    return 0;
  const size_t n = request->transfer->read({static_cast<uint8_t*>(buffer), to_read});
  *bytes_read = static_cast<uint32_t>(n);
  return n > 0 || request->transfer->ended_cleanly() ? 1 : 0;
}

int32_t query_length(Request& request, void* buffer, uint32_t* length) {
  std::lock_guard guard(request.lock);
  const std::optional<uint64_t> declared =
      request.transfer ? request.transfer->declared_length() : std::nullopt;
  if (!declared || *declared > UINT32_MAX)
    return 0;
  if (!buffer || *length < sizeof(uint32_t)) {
    *length = sizeof(uint32_t);
    return 0;
  }
  const auto value = static_cast<uint32_t>(*declared);
  std::memcpy(buffer, &value, sizeof value);
  *length = sizeof value;
  return 1;
}

int32_t query_info(Handle request_handle, uint32_t level, void* buffer, uint32_t* length) {
  auto request = find<Request>(request_handle);
  if (!request || !length)
    return 0;
  if (level == (kQueryContentLength | kQueryFlagNumber))
    return query_length(*request, buffer, length);
  if (level != kQueryRawHeadersCrlf)
    return 0;
  std::lock_guard guard(request->lock);
  const std::string* block = request->transfer ? request->transfer->response_headers() : nullptr;
  if (!block)
    return 0;
  const size_t needed = block->size() + 1;
  if (!buffer || *length < needed) {
    *length = static_cast<uint32_t>(needed);
    return 0;
  }
  std::memcpy(buffer, block->data(), block->size());
  static_cast<char*>(buffer)[block->size()] = 0;
  *length = static_cast<uint32_t>(block->size());
  return 1;
}

const char* kind_name(Handle handle) {
  HandleKind kind;
  if (!handle_kind(handle, kind))
    return "unknown";
  switch (kind) {
    case HandleKind::kSession:
      return "session";
    case HandleKind::kConnection:
      return "connection";
    case HandleKind::kRequest:
      return "request";
  }
  return "unknown";
}

const char* handle_result(Handle h) {
  return h ? "handle" : "null";
}

}  // namespace
}  // namespace inet

using namespace inet;

Handle InternetOpenA(const char* agent, uint32_t open_type, const char* proxy,
                     const char* proxy_bypass, uint32_t flags) {
  // The bypass list is not consulted: every request of a proxied session uses the proxy.
  const Handle h = open_session(agent, open_type, proxy, flags);
  log_call([&] {
    return "InternetOpenA(" + quoted(agent) + ", " + number(open_type) + ", " + quoted(proxy) +
           ", " + quoted(proxy_bypass) + ", " + hex(flags) + ") -> " + handle_result(h);
  });
  return h;
}

Handle InternetConnectA(Handle session, const char* host, int32_t port, const char* user,
                        const char* password, uint32_t service, uint32_t flags, uintptr_t context) {
  // User name and password are not used: nothing the program fetches asks for them.
  const Handle h = open_connection(session, host, port, service);
  log_call([&] {
    return "InternetConnectA(" + quoted(host) + ", " + std::to_string(port) + ", " + quoted(user) +
           ", " + quoted(password) + ", " + number(service) + ", " + hex(flags) + ", " +
           number(context) + ") -> " + handle_result(h);
  });
  return h;
}

Handle HttpOpenRequestA(Handle connection, const char* verb, const char* object,
                        const char* version, const char* referrer, const char* const* accept_types,
                        uint32_t flags, uintptr_t context) {
  const Handle h = open_request(connection, verb, object, version, referrer, accept_types, flags);
  log_call([&] {
    return "HttpOpenRequestA(" + quoted(verb) + ", " + quoted(object) + ", " + quoted(version) +
           ", " + quoted(referrer) + ", " + (accept_types ? "types" : "null") + ", " + hex(flags) +
           ", " + number(context) + ") -> " + handle_result(h);
  });
  return h;
}

int32_t HttpSendRequestA(Handle request, const char* headers, uint32_t headers_length,
                         const void* body, uint32_t body_length) {
  std::string_view block;
  if (headers) {
    block = headers_length == 0xFFFFFFFF ? std::string_view(headers)
                                         : std::string_view(headers, headers_length);
  }
  const int32_t sent = send_request(request, block, body, body_length);
  log_call([&] {
    const std::string body_text =
        body ? quoted(static_cast<const char*>(body), body_length) : std::string("null");
    return "HttpSendRequestA(" + quoted(block.data(), block.size()) + ", " +
           number(headers_length) + ", " + body_text + ", " + number(body_length) + ") -> " +
           std::to_string(sent);
  });
  return sent;
}

int32_t InternetReadFile(Handle request, void* buffer, uint32_t to_read, uint32_t* bytes_read) {
  const int32_t ok = read_body(request, buffer, to_read, bytes_read);
  log_call([&] {
    return "InternetReadFile(" + number(to_read) + ") -> " +
           (bytes_read ? number(*bytes_read) : std::string("null"));
  });
  return ok;
}

int32_t HttpQueryInfoA(Handle request, uint32_t level, void* buffer, uint32_t* length, uint32_t*) {
  const uint32_t given = length ? *length : 0;
  const int32_t ok = query_info(request, level, buffer, length);
  log_call([&] {
    return "HttpQueryInfoA(" + number(level) + ", " + number(given) + ") -> " + std::to_string(ok);
  });
  return ok;
}

int32_t InternetCloseHandle(Handle handle) {
  const char* kind = kind_name(handle);
  const int32_t ok = close_handle(handle) ? 1 : 0;
  log_call(
      [&] { return std::string("InternetCloseHandle(") + kind + ") -> " + std::to_string(ok); });
  return ok;
}

void ffinet_get_limits(Limits* limits) {
  if (!limits)
    return;
  LimitSettings& s = limit_settings();
  std::lock_guard guard(s.lock);
  *limits = s.limits;
  limits->ca_file = s.ca_file.empty() ? nullptr : s.ca_file.c_str();
}

void ffinet_set_limits(const Limits* limits) {
  LimitSettings& s = limit_settings();
  std::lock_guard guard(s.lock);
  s.limits = limits ? *limits : Limits{};
  s.ca_file = limits && limits->ca_file ? limits->ca_file : "";
  s.limits.ca_file = nullptr;
}

void ffinet_set_call_observer(CallObserver observer, void* context) {
  g_observer_context.store(context, std::memory_order_release);
  g_observer.store(observer, std::memory_order_release);
}
