// libFuzzer harness for link resolution (web/link.cpp). A link comes from an untrusted page and
// its result is fetched or opened, so whatever the page and the link: the result is empty or an
// absolute http(s) address holding no control byte, space or DEL. Outside ASCII only what the
// page's own address held can come out (a link's bytes are percent-encoded), and an ASCII result
// resolves to itself when followed again from anywhere.
//
// Input: a byte choosing the page address (one of a few real ones, or the first field), then
// the page address field and the link.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "web/link.h"

namespace {

constexpr std::string_view kPages[] = {
    "http://films.example.com/search.php?q=%E7%94%B5%E5%BD%B1&page=2#list",
    "https://www.example.cn:8443/vod/12/index.html",
    "http://127.0.0.1:8931/play/3-1-2.html",
    "http://[::1]/a/b/../c/",
};

bool has_control_or_space(std::string_view address) {
  for (const char c : address) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F)
      return true;
  }
  return false;
}

bool is_ascii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t choice = in.byte();
  const std::string_view page_field = in.field();
  const std::string_view link = in.rest();
  const std::string_view page = choice < 0xC0 ? kPages[choice % std::size(kPages)] : page_field;

  const std::string resolved = web::resolve_link(page, link);
  if (resolved.empty())
    return 0;
  FF_CHECK(resolved.starts_with("http://") || resolved.starts_with("https://"));
  FF_CHECK(web::is_web_address(resolved));
  FF_CHECK(!has_control_or_space(resolved));
  if (is_ascii(page))
    FF_CHECK(is_ascii(resolved));
  if (is_ascii(resolved))
    FF_CHECK(web::resolve_link(kPages[0], resolved) == resolved);
  return 0;
}
