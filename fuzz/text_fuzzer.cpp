// libFuzzer harness for reading pages: built twice. FF_FUZZ_KIND 0 checks the kernel's
// conversions against plain reference coders written here (one U+FFFD per maximal subpart of
// broken input, iconv for what each whole code means); 1 checks the charset prescan of
// web/page_text.cpp for bounded, order-independent answers. Any disagreement aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if FF_FUZZ_KIND == 0
#include <cstring>

#include "fuzz/reference_coders.h"
#include "platform/kernel/codepage.h"
#else
#include "web/page_text.h"
#endif

namespace {

void check(bool ok) {
  if (!ok)
    std::abort();
}

#if FF_FUZZ_KIND == 0

constexpr uint32_t kGbk = 936;
constexpr uint32_t kGb18030 = 54936;
constexpr uint32_t kUtf8 = 65001;
constexpr uint32_t kErrInvalidChars = 0x8;

using namespace fuzz::reference;

// --- The kernel against them ---

// Measures, converts into exactly that much (heap memory, so a write past it is seen), and
// checks that one unit less fails.
std::u16string kernel_decode(uint32_t cp, uint32_t flags, const char* in, int count) {
  const int n = MultiByteToWideChar(cp, flags, in, count, nullptr, 0);
  if (n <= 0)
    return {};
  std::vector<char16_t> buffer(static_cast<size_t>(n));
  check(MultiByteToWideChar(cp, flags, in, count, buffer.data(), n) == n);
  if (n > 1) {
    std::vector<char16_t> short_buffer(static_cast<size_t>(n - 1));
    check(MultiByteToWideChar(cp, flags, in, count, short_buffer.data(), n - 1) == 0);
  }
  return {buffer.begin(), buffer.end()};
}

std::string kernel_encode(uint32_t cp, std::u16string_view units) {
  const auto count = static_cast<int>(units.size());
  const int n = WideCharToMultiByte(cp, 0, units.data(), count, nullptr, 0, nullptr, nullptr);
  if (n <= 0)
    return {};
  std::vector<char> buffer(static_cast<size_t>(n));
  check(WideCharToMultiByte(cp, 0, units.data(), count, buffer.data(), n, nullptr, nullptr) == n);
  if (n > 1) {
    std::vector<char> short_buffer(static_cast<size_t>(n - 1));
    check(WideCharToMultiByte(cp, 0, units.data(), count, short_buffer.data(), n - 1, nullptr,
                              nullptr) == 0);
  }
  return {buffer.begin(), buffer.end()};
}

// The one-pass conversions between UTF-8 and code page 936, each into a heap block of exactly
// the room it may use.
void check_one_pass(uint32_t cp, std::string_view in, const Decoded& expected) {
  const std::vector<char> input(in.begin(), in.end());
  if (cp == kUtf8) {
    std::vector<char> out(in.size());
    const int64_t written = ff_utf8_to_local(input.data(), input.size(), out.data());
    if (expected.broken) {
      check(written == -1);
      return;
    }
    const std::string local = reference_to_gbk(expected.units);
    check(written == static_cast<int64_t>(local.size()));
    check(std::string_view(out.data(), local.size()) == local);
  } else if (cp == kGbk) {
    const std::string utf8 = reference_to_utf8(expected.units);
    std::vector<char> out(utf8.size());
    size_t units = 0;
    size_t read = 0;
    check(ff_local_to_utf8(input.data(), input.size(), out.data(), out.size(), &read, &units) ==
          static_cast<int64_t>(utf8.size()));
    check(std::string_view(out.data(), utf8.size()) == utf8);
    check(units == expected.units.size());
    check(read == input.size());
    if (!utf8.empty()) {
      // A byte short: what fits, then the rest from where it stopped, in their own blocks.
      std::vector<char> short_out(utf8.size() - 1);
      const int64_t first = ff_local_to_utf8(input.data(), input.size(), short_out.data(),
                                             short_out.size(), &read, &units);
      check(first >= 0 && read < input.size());
      const std::vector<char> rest_in(input.begin() + static_cast<ptrdiff_t>(read), input.end());
      std::vector<char> rest_out(utf8.size() - static_cast<size_t>(first));
      size_t rest_read = 0;
      size_t rest_units = 0;
      const int64_t rest = ff_local_to_utf8(rest_in.data(), rest_in.size(), rest_out.data(),
                                            rest_out.size(), &rest_read, &rest_units);
      check(rest == static_cast<int64_t>(rest_out.size()) && rest_read == rest_in.size());
      check(std::string(short_out.data(), static_cast<size_t>(first)) +
                std::string(rest_out.data(), rest_out.size()) ==
            utf8);
      check(units + rest_units == expected.units.size());
    }
  }
}

void check_decoder(uint32_t cp, std::string_view in, Decoded (*reference)(std::string_view)) {
  const Decoded expected = reference(in);
  const auto count = static_cast<int>(in.size());
  // Counted input, leniently and strictly.
  check(kernel_decode(cp, 0, in.data(), count) == expected.units);
  check(kernel_decode(cp, kErrInvalidChars, in.data(), count) ==
        (expected.broken ? std::u16string() : expected.units));
  // Input up to its terminator ends where the counted input up to the first zero byte does.
  const std::string text(in.substr(0, in.find('\0')));
  const Decoded head = reference(text);
  check(kernel_decode(cp, 0, text.c_str(), -1) == head.units + u'\0');
  // What the page reader writes from the units.
  check(kernel_encode(kGbk, expected.units) == reference_to_gbk(expected.units));
  check_one_pass(cp, in, expected);
  if (cp != kUtf8)
    return;
  // The ANSI measure of well-formed UTF-8 is never too small: utf8_to_local keeps every
  // well-formed page.
  if (!head.broken) {
    const int measured = MultiByteToWideChar(0, 0, text.c_str(), -1, nullptr, 0);
    check(static_cast<int>(head.units.size()) + 1 <= measured);
  }
}

#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16)
    return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
#if FF_FUZZ_KIND == 0
  switch (data[0] % 4) {
    case 0:
      check_decoder(kUtf8, rest, reference_utf8);
      break;
    case 1:
      check_decoder(kGbk, rest, reference_gbk);
      break;
    case 2:
      check_decoder(kGb18030, rest, reference_gb18030);
      break;
    case 3: {
      std::u16string units(rest.size() / 2, u'\0');
      std::memcpy(units.data(), rest.data(), units.size() * 2);
      check(kernel_encode(kGbk, units) == reference_to_gbk(units));
      check(kernel_encode(kUtf8, units) == reference_to_utf8(units));
      break;
    }
  }
#else
  // The header block is the first data[0] * 2 bytes of the rest, the body what follows.
  const std::string_view headers = rest.substr(0, std::min<size_t>(data[0] * 2u, rest.size()));
  const std::string_view body_text = rest.substr(headers.size());
  const auto bytes = [](std::string_view s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  const web::DeclaredCharset found = web::declared_charset(bytes(body_text), headers);
  // Nothing past the first 1024 bytes counts.
  if (body_text.size() > 1024) {
    const std::string other = std::string(body_text.substr(0, 1024)) + "<meta charset=gb18030>";
    check(web::declared_charset(bytes(other), headers) == found);
  }
  // A header that names a charset the program reads decides whatever the body says, unless the
  // body starts with a UTF-8 mark.
  if (found.source != web::CharsetSource::kByteOrderMark) {
    const web::DeclaredCharset other = web::declared_charset(bytes("<meta charset=gbk>"), headers);
    check((other.source == web::CharsetSource::kHeader) ==
          (found.source == web::CharsetSource::kHeader));
    if (found.source == web::CharsetSource::kHeader)
      check(other == found);
  }
  // Labels are read without regard to case.
  std::string upper(rest.substr(0, 24));
  for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c;
  check(web::encoding_of_label(upper) == web::encoding_of_label(rest.substr(0, 24)));
#endif
  return 0;
}
