#include "platform/inet/proxy.h"

#include <charconv>

#include "platform/ascii_case.h"

namespace inet {
namespace {

std::optional<ProxyServer> parse_server(std::string_view text) {
  if (text.size() > 7 && ascii::equals_folded(text.substr(0, 7), "http://"))
    text.remove_prefix(7);
  while (!text.empty() && text.back() == '/') text.remove_suffix(1);
  ProxyServer server;
  std::string_view host = text;
  const size_t bracket = text.rfind(']');
  const size_t colon = text.rfind(':');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = text.substr(0, colon);
    const std::string_view digits = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
      return std::nullopt;
    }
    server.port = static_cast<uint16_t>(port);
  }
  if (!is_plain_host(host))
    return std::nullopt;
  server.host = std::string(host);
  return server;
}

}  // namespace

std::string ProxyServer::url() const {
  return "http://" + host + ":" + std::to_string(port);
}

const ProxyServer* ProxyList::for_scheme(bool secure) const {
  const auto& named = secure ? https : http;
  if (named)
    return &*named;
  return any ? &*any : nullptr;
}

const ProxyServer* ProxyList::likely() const {
  if (any)
    return &*any;
  if (http)
    return &*http;
  return https ? &*https : nullptr;
}

bool is_plain_host(std::string_view host) {
  if (host.empty() || host.size() > 253)
    return false;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']')
      return false;
    for (char c : host.substr(1, host.size() - 2)) {
      const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!hex && c != ':' && c != '.')
        return false;
    }
    return true;
  }
  for (char c : host) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && c != '-' && c != '.' && c != '_')
      return false;
  }
  return true;
}

std::optional<ProxyList> parse_proxy_list(std::string_view text) {
  ProxyList list;
  bool usable = false;
  while (!text.empty()) {
    const size_t end = text.find_first_of(" \t;");
    std::string_view entry = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (entry.empty())
      continue;

    std::optional<ProxyServer>* slot = &list.any;
    const size_t equals = entry.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view scheme = entry.substr(0, equals);
      if (ascii::equals_folded(scheme, "http")) {
        slot = &list.http;
      } else if (ascii::equals_folded(scheme, "https")) {
        slot = &list.https;
      } else {
        continue;
      }
      entry.remove_prefix(equals + 1);
    }
    auto server = parse_server(entry);
    if (!server || slot->has_value())
      continue;  // the first entry for a scheme counts
    *slot = std::move(server);
    usable = true;
  }
  if (!usable)
    return std::nullopt;
  return list;
}

}  // namespace inet
