// Taking an address apart into host, port and path, the way web_request connects.
//
// Tolerant by design: an address without a scheme counts as "http://", one without a path has
// the path "/". Bytes of code page 936 text throughout; the host always comes back lower case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "web/commands.h"

namespace web {

namespace cmd {
// (address, [bool main_domain_only], [bool keep_port], [int levels]) -> text
void host_of_address(rt::Cell* r, int32_t n, const rt::Cell* a);
// (address) -> int
void port_of_address(rt::Cell* r, int32_t n, const rt::Cell* a);
// (address) -> text
void path_of_address(rt::Cell* r, int32_t n, const rt::Cell* a);
}  // namespace cmd

// The same as plain C++, a view of the address in, owned texts out; the commands run these.
namespace addresses {

// Which part of the host comes back (see host_of_address).
struct HostForm {
  bool main_domain_only = false;
  bool keep_port = false;
  std::optional<int32_t> levels = std::nullopt;
};

std::string host_of(std::string_view address, HostForm form = {});
int32_t port_of(std::string_view address);
std::string path_of(std::string_view address);

}  // namespace addresses

// The host between the scheme and the first "/". main_domain_only keeps the last two labels;
// levels N (which takes a route of its own) keeps the last N + 1; keep_port keeps ":port".
inline rt::Text host_of_address(const char* address, OptBool main_domain_only = {},
                                OptBool keep_port = {}, OptInt levels = {}) {
  return rt::call_text(&cmd::host_of_address, address, main_domain_only, keep_port, levels);
}

// The port written after the host, else 443 for an address starting "https", else 80.
inline int32_t port_of_address(const char* address) {
  return rt::call_int(&cmd::port_of_address, address);
}

// From the first "/" after the host to the end, query and fragment included; "/" when none.
inline rt::Text path_of_address(const char* address) {
  return rt::call_text(&cmd::path_of_address, address);
}

}  // namespace web
