#include "app/command_line.h"

#include <algorithm>
#include <charconv>

namespace app {
namespace {

bool is_host_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-';
}

bool is_port(std::string_view digits) {
  if (digits.empty() || digits.size() > 5)
    return false;
  unsigned port = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  return error == std::errc() && end == digits.data() + digits.size() && port >= 1 && port <= 65535;
}

}  // namespace

bool is_site_base(std::string_view text) {
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (!text.starts_with(scheme))
      continue;
    const std::string_view rest = text.substr(scheme.size());
    const size_t colon = rest.find(':');
    const std::string_view host = rest.substr(0, colon);
    if (host.empty() || !std::all_of(host.begin(), host.end(), is_host_character))
      return false;
    return colon == std::string_view::npos || is_port(rest.substr(colon + 1));
  }
  return false;
}

std::string usage_text() {
  return "usage: filmfinder [--site URL]\n"
         "  --site URL   the film site to search, http(s)://host[:port] without a path\n";
}

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      line.exit_status = 0;
      return line;
    }
    std::string_view value;
    if (arg == "--site" && i + 1 < argc) {
      value = argv[++i];
    } else if (arg.starts_with("--site=")) {
      value = arg.substr(7);
    } else {
      line.exit_status = 2;
      line.message = arg == "--site" ? "filmfinder: --site needs an address\n"
                                     : "filmfinder: unknown argument: " + std::string(arg) + "\n";
      return line;
    }
    if (!is_site_base(value)) {
      line.exit_status = 2;
      line.message = "filmfinder: not a film site address: " + std::string(value) +
                     "\n  expected http://host[:port] or https://host[:port], without a path\n";
      return line;
    }
    line.site = std::string(value);
  }
  return line;
}

}  // namespace app
