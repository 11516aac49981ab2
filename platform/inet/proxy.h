// The proxy text of InternetOpenA: entries separated by spaces or ";", each "host[:port]" for
// every scheme or "scheme=host[:port]" for one, the server optionally written "http://host:port".
// Only http proxies are spoken to; entries for other schemes ("ftp=", "socks=") are passed over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace inet {

struct ProxyServer {
  std::string host;
  uint16_t port = 80;

  // "http://host:port", the form libcurl takes.
  std::string url() const;
};

struct ProxyList {
  std::optional<ProxyServer> any;    // no scheme named
  std::optional<ProxyServer> http;   // "http="
  std::optional<ProxyServer> https;  // "https="

  // The proxy for a request of that scheme, or null for a direct connection.
  const ProxyServer* for_scheme(bool secure) const;
  // The proxy a connection would most likely go through before the scheme is known.
  const ProxyServer* likely() const;
};

// Nothing when no entry names a usable server.
std::optional<ProxyList> parse_proxy_list(std::string_view text);

// Host names, IPv4 and bracketed IPv6 literals; nothing that could change a URL's meaning.
bool is_plain_host(std::string_view host);

}  // namespace inet
