// libFuzzer harness for address splitting (web/address.cpp), called through argument cells. No
// reference can say what a tolerant splitter makes of any text, so the checks are what callers
// rely on: the host is lower case and holds no "/" (nor ":" unless the port is kept) at a
// character start; the main domain has at most one dot; the levels route keeps at most levels +
// 1 dots; the path starts with "/" and is the end of the address; a port read from no ":" is the
// scheme's own. A huge levels count must end early (-timeout).
//
// Input: option bytes (main domain only, keep port, levels: given or not, and their values),
// four bytes of levels, then the address.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"
#include "web/address.h"

namespace {

using namespace fuzz::reference;

// How often c stands at a character start of the walk over t.
size_t count_at_starts(std::string_view t, char c) {
  size_t n = 0;
  for (size_t i = 0; i < t.size(); i += is_lead(t[i]) ? 2 : 1) {
    if (is_lead(t[i]) && i + 1 == t.size())
      break;
    n += t[i] == c ? 1 : 0;
  }
  return n;
}

bool has_upper_at_starts(std::string_view t) {
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (count_at_starts(t, c) != 0)
      return true;
  }
  return false;
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t given = in.byte();
  uint32_t raw_levels = 0;
  for (int i = 0; i < 4; ++i) raw_levels = raw_levels << 8 | in.byte();
  const std::string address(in.field());
  const web::OptBool main_domain_only = given & 1 ? web::OptBool((given & 2) != 0) : std::nullopt;
  const web::OptBool keep_port = given & 4 ? web::OptBool((given & 8) != 0) : std::nullopt;
  // Small counts mostly, so that the dots are counted off; any count now and then.
  const auto levels_value = static_cast<int32_t>(given & 0x20 ? raw_levels : raw_levels % 8);
  const web::OptInt levels = given & 0x10 ? web::OptInt(levels_value) : std::nullopt;
  const char* a = address.c_str();

  const rt::Text host = web::host_of_address(a, main_domain_only, keep_port, levels);
  const std::string_view h = host.view();
  FF_CHECK(!has_upper_at_starts(h));
  FF_CHECK(count_at_starts(h, '/') == 0);
  if (!keep_port.value_or(false))
    FF_CHECK(count_at_starts(h, ':') == 0);
  if (levels) {
    FF_CHECK(count_at_starts(h, '.') <= static_cast<size_t>(std::max(*levels, 0)) + 1);
  } else if (main_domain_only.value_or(false)) {
    FF_CHECK(count_at_starts(h, '.') <= 1);
  }

  const rt::Text path = web::path_of_address(a);
  const std::string_view p = path.view();
  FF_CHECK(!p.empty() && p.front() == '/');
  FF_CHECK(p == "/" || std::string_view(address).ends_with(p));

  const rt::Text with_port = web::host_of_address(a, {}, true);
  const int32_t port = web::port_of_address(a);
  if (count_at_starts(with_port.view(), ':') == 0)
    FF_CHECK(port == 80 || port == 443);
  return 0;
}
