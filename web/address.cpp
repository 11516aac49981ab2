#include "web/address.h"

#include <algorithm>
#include <string>

#include "web/codepage.h"
#include "web/text_ops.h"

namespace web {
namespace addresses {
namespace {

using text_ops::Case;

// The host by the scheme: the text between "https://" or "http://" and the next "/".
std::string host_after_scheme(std::string lowered, bool main_domain_only) {
  if (text_ops::right(lowered, 1) != "/")
    lowered += '/';
  std::string host;
  if (text_ops::left(lowered, 8) == "https://") {
    host = text_ops::between(lowered, "https://", "/");
  } else {
    if (text_ops::find(lowered, "http://") == -1)
      lowered.insert(0, "http://");
    host = text_ops::between(lowered, "http://", "/");
  }
  if (!main_domain_only)
    return host;
  const std::vector<std::string> labels = text_ops::split(host, ".");
  const size_t count = labels.size();
  if (count <= 1)
    return host;
  return labels[count - 2] + "." + labels[count - 1];
}

// The host as its last levels + 1 labels: the dots are counted from the end.
std::string host_by_levels(const std::string& lowered, int32_t levels) {
  std::string host = text_ops::replace(lowered, "http://", "", Case::kExact);
  host = text_ops::replace(host, "https://", "", Case::kExact);
  const int32_t slash = text_ops::find(host, "/");
  if (slash != -1)
    host = text_ops::left(host, slash - 1);
  // levels backward searches, then one more; once nothing is found nothing will be, so a huge
  // count ends early.
  auto dot = static_cast<int32_t>(host.size());
  const int64_t searches = int64_t{std::max(levels, 0)} + 1;
  for (int64_t i = 0; i < searches && dot != -1; ++i) {
    dot = text_ops::find_backward(host, ".", dot);
  }
  if (dot == -1)
    return host;
  return text_ops::right(host, static_cast<int32_t>(host.size()) - dot);
}

}  // namespace

std::string host_of(std::string_view address, HostForm form) {
  const std::string lowered = text_ops::to_lower_case(address);
  std::string host = form.levels ? host_by_levels(lowered, *form.levels)
                                 : host_after_scheme(lowered, form.main_domain_only);
  if (!form.keep_port) {
    const int32_t colon = text_ops::find(host, ":");
    if (colon != -1)
      host = text_ops::left(host, colon - 1);
  }
  return host;
}

int32_t port_of(std::string_view address) {
  const std::string host = host_of(address, {.keep_port = true});
  const int32_t colon = text_ops::find_backward(host, ":");
  if (colon != -1)
    return text_ops::to_integer(text_ops::right(host, static_cast<int32_t>(host.size()) - colon));
  return text_ops::to_lower_case(text_ops::left(address, 5)) == "https" ? 443 : 80;
}

std::string path_of(std::string_view address) {
  const std::string host = host_of(address);
  const int32_t at_host = text_ops::find(address, host, 1, Case::kFoldAscii);
  const int32_t slash = text_ops::find(address, "/", at_host, Case::kFoldAscii);
  if (slash <= 0)
    return "/";
  return text_ops::right(address, static_cast<int32_t>(address.size()) - slash + 1);
}

}  // namespace addresses

namespace cmd {

void host_of_address(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  addresses::HostForm form;
  form.main_domain_only = args.flag(1);
  form.keep_port = args.flag(2);
  if (args.given(3))
    form.levels = args.at(3).as_int();
  rt::set_text(r, rt::make_text(addresses::host_of(text_argument(args, 0), form)));
}

void port_of_address(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_int(r, addresses::port_of(text_argument(args, 0)));
}

void path_of_address(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, rt::make_text(addresses::path_of(text_argument(args, 0))));
}

}  // namespace cmd
}  // namespace web
