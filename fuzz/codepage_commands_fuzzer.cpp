// libFuzzer harness for the code-page commands (web/codepage_commands.cpp) over the kernel
// stand-in, which the runtime loads by name from beside this program. The commands' own rules
// are restated here over the plain reference coders (reference_coders.h): the UTF-16 is sized
// by the ANSI code page's reading (a reading that needs more units leaves zero bytes), a text
// buffer is twice what the ANSI code page needs (a text that does not fit is that many spaces),
// and a page body is read up to its first zero byte.
//
// Input: a byte choosing the command and a code page, then the text or byte set.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_coders.h"
#include "web/codepage.h"

namespace {

using namespace fuzz::reference;

constexpr int32_t kCodePages[] = {0, 936, 54936, 65001, 1252};

// Units of text read in a code page, its terminator included; nothing for a code page the
// kernel does not read.
std::optional<std::u16string> units_of(std::string_view text, int32_t code_page) {
  Decoded d;
  switch (code_page) {
    case 0:
    case 936:
      d = reference_gbk(text);
      break;
    case 54936:
      d = reference_gb18030(text);
      break;
    case 65001:
      d = reference_utf8(text);
      break;
    default:
      return std::nullopt;
  }
  return d.units + u'\0';
}

// Units up to their first zero unit written in a code page, the terminator included; nothing
// for a code page the kernel does not write.
std::optional<std::string> bytes_of(std::u16string_view units, int32_t code_page) {
  units = units.substr(0, units.find(u'\0'));
  switch (code_page) {
    case 0:
    case 936:
      return reference_to_gbk(units) + '\0';
    case 65001:
      return reference_to_utf8(units) + '\0';
    default:
      return std::nullopt;
  }
}

// text_to_utf16: 2N bytes where N is the ANSI reading's unit count.
std::string expected_utf16(std::string_view text, int32_t code_page) {
  if (text.empty())
    return {};
  const size_t n = units_of(text, 0)->size();
  std::string bytes(2 * n, '\0');
  const std::optional<std::u16string> units = units_of(text, code_page);
  if (units && units->size() <= n)
    std::memcpy(bytes.data(), units->data(), 2 * units->size());
  return bytes;
}

// utf16_to_text over whole units (an odd last byte is dropped).
std::string expected_text(std::span<const uint8_t> data, int32_t code_page) {
  std::u16string units(data.size() / 2, u'\0');
  std::memcpy(units.data(), data.data(), 2 * units.size());
  if (units.empty())
    return {};
  const size_t room = 2 * bytes_of(units, 0)->size();
  const std::optional<std::string> written = bytes_of(units, code_page);
  if (!written || written->size() > room)
    return std::string(room, ' ');
  return written->substr(0, written->size() - 1);
}

std::string round_trip(std::string_view text, int32_t from, int32_t to) {
  const std::string units = expected_utf16(text, from);
  return expected_text({reinterpret_cast<const uint8_t*>(units.data()), units.size()}, to);
}

// Read in a code page and written in code page 936, each step sized by itself.
std::string read_sized_by_itself(std::string_view bytes, int32_t code_page) {
  if (bytes.empty())
    return {};
  std::u16string units = *units_of(bytes, code_page);
  units.pop_back();
  return reference_to_gbk(units);
}

std::string expected_page(std::string_view body, web::PageEncoding encoding) {
  body = body.substr(0, body.find('\0'));
  switch (encoding) {
    case web::PageEncoding::kUtf8: {
      const std::string local = round_trip(body, 65001, 936);
      return !local.empty() || body.empty() ? local : read_sized_by_itself(body, 65001);
    }
    case web::PageEncoding::kGbk:
      return std::string(body);
    case web::PageEncoding::kGb18030:
      return read_sized_by_itself(body, 54936);
  }
  return {};
}

std::string_view as_text(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t choice = in.byte();
  const int32_t code_page = kCodePages[(choice >> 3) % std::size(kCodePages)];
  const std::string_view rest = in.rest();
  const std::string text(rest.substr(0, rest.find('\0')));
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
  switch (choice % 6) {
    case 0: {
      const bool given = (choice & 0x80) != 0;
      const rt::Bytes units = web::text_to_utf16(
          text.c_str(), given ? std::optional<int32_t>(code_page) : std::nullopt);
      FF_CHECK(as_text(units.view()) == expected_utf16(text, given ? code_page : 65001));
      break;
    }
    case 1: {
      const bool given = (choice & 0x80) != 0;
      const rt::Bytes set(bytes);
      FF_CHECK(web::utf16_to_text(set, given ? std::optional<int32_t>(code_page) : std::nullopt)
                   .view() == expected_text(bytes, given ? code_page : 0));
      break;
    }
    case 2:
      FF_CHECK(web::utf8_to_local(text.c_str()).view() == round_trip(text, 65001, 936));
      break;
    case 3:
      FF_CHECK(web::local_to_utf8(text.c_str()).view() == round_trip(text, 936, 65001));
      break;
    case 4:
    case 5: {
      const auto encoding = static_cast<web::PageEncoding>((choice >> 3) % 3);
      FF_CHECK(web::page_bytes_to_local(bytes, encoding).view() == expected_page(rest, encoding));
      break;
    }
  }
  return 0;
}
