// libFuzzer harness for the opener's address check (platform/shell/web_address.cpp): the pure
// check and rewrite that ShellExecuteA runs before it hands an address on. Nothing is started
// here. Whatever the text, an address that comes out is an absolute http(s) address of plain
// printable ASCII, with a host, no "@" or "\" in its authority, none of the characters shells
// and handlers give a meaning to (` $ ' " ; ( ) * !) after it, and it passes the check again
// unchanged.
//
// Input: the text as the program would pass it (code page 936).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/shell/shell.h"
#include "platform/shell/web_address.h"

namespace {

bool is_printable_ascii(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> address = shell::web_address(text);
  if (!address)
    return 0;
  const std::string& a = *address;
  const size_t scheme_end = a.starts_with("https://") ? 8 : 7;
  FF_CHECK(a.starts_with("http://") || a.starts_with("https://"));
  FF_CHECK(is_printable_ascii(a));
  const size_t authority_end = std::min(a.find_first_of("/?#", scheme_end), a.size());
  const std::string_view authority =
      std::string_view(a).substr(scheme_end, authority_end - scheme_end);
  FF_CHECK(!authority.empty());
  FF_CHECK(authority.find_first_of("@\\") == std::string_view::npos);
  FF_CHECK(std::string_view(a).substr(authority_end).find_first_of("`$'\";()*!") ==
           std::string_view::npos);
  FF_CHECK(shell::web_address(a) == a);
  return 0;
}
