#include "web/address.h"

#include <algorithm>
#include <string>

#include "web/codepage.h"

namespace web::cmd {
namespace {

rt::Text joined(std::string_view a, std::string_view b) {
  std::string s;
  s.reserve(a.size() + b.size());
  s.append(a).append(b);
  return rt::Text(s);
}

// The host by the scheme: the text between "https://" or "http://" and the next "/".
rt::Text host_after_scheme(rt::Text lowered, bool main_domain_only) {
  if (web::text_right(lowered.c_str(), 1).view() != "/")
    lowered = joined(lowered.view(), "/");
  rt::Text host;
  if (web::text_left(lowered.c_str(), 8).view() == "https://") {
    host = web::text_between(lowered.c_str(), "https://", "/");
  } else {
    if (web::find_text(lowered.c_str(), "http://") == -1)
      lowered = joined("http://", lowered.view());
    host = web::text_between(lowered.c_str(), "http://", "/");
  }
  if (!main_domain_only)
    return host;
  const rt::Array labels = web::split_text(host.c_str(), ".");
  const size_t count = labels.size();
  if (count <= 1)
    return host;
  std::string last_two(rt::text_view(labels.text_at(count - 2)));
  last_two.append(".").append(rt::text_view(labels.text_at(count - 1)));
  return rt::Text(last_two);
}

// The host as its last levels + 1 labels: the dots are counted from the end.
rt::Text host_by_levels(rt::Text lowered, int32_t levels) {
  rt::Text host = web::replace_text(lowered.c_str(), "http://", "", {}, {}, true);
  host = web::replace_text(host.c_str(), "https://", "", {}, {}, true);
  const int32_t slash = web::find_text(host.c_str(), "/");
  if (slash != -1)
    host = web::text_left(host.c_str(), slash - 1);
  // levels backward searches, then one more; once nothing is found nothing will be, so a huge
  // count ends early.
  int32_t dot = web::text_len(host.c_str());
  const int64_t searches = int64_t{std::max(levels, 0)} + 1;
  for (int64_t i = 0; i < searches && dot != -1; ++i) {
    dot = web::find_text_backward(host.c_str(), ".", dot);
  }
  if (dot == -1)
    return host;
  return web::text_right(host.c_str(), web::text_len(host.c_str()) - dot);
}

}  // namespace

void host_of_address(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::Text lowered = web::to_lower_case(text_argument(args, 0));
  rt::Text host = args.given(3) ? host_by_levels(std::move(lowered), args.at(3).as_int())
                                : host_after_scheme(std::move(lowered), args.flag(1));
  if (!args.flag(2)) {
    const int32_t colon = web::find_text(host.c_str(), ":");
    if (colon != -1)
      host = web::text_left(host.c_str(), colon - 1);
  }
  rt::set_text(r, host.release());
}

void port_of_address(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const char* address = text_argument(args, 0);
  const rt::Text host = web::host_of_address(address, {}, true);
  const int32_t colon = web::find_text_backward(host.c_str(), ":");
  if (colon != -1) {
    const rt::Text digits = web::text_right(host.c_str(), web::text_len(host.c_str()) - colon);
    rt::set_int(r, web::to_integer(digits.c_str()));
    return;
  }
  const rt::Text scheme = web::to_lower_case(web::text_left(address, 5).c_str());
  rt::set_int(r, scheme.view() == "https" ? 443 : 80);
}

void path_of_address(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const char* address = text_argument(args, 0);
  const rt::Text host = web::host_of_address(address);
  const int32_t at_host = web::find_text(address, host.c_str(), 1, true);
  const int32_t slash = web::find_text(address, "/", at_host, true);
  if (slash <= 0) {
    rt::set_text(r, rt::make_text("/"));
    return;
  }
  rt::set_text(r, web::text_right(address, web::text_len(address) - slash + 1).release());
}

}  // namespace web::cmd
