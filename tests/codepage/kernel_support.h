// What the kernel conversion tests share: the code pages, literals as bytes, iconv as the
// reference, and measure-then-convert calls of the kernel functions.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/kernel/codepage.h"

namespace codepage_test {

inline constexpr uint32_t kGbk = 936;
inline constexpr uint32_t kGb18030 = 54936;
inline constexpr uint32_t kUtf8 = 65001;

inline std::string utf8(std::u8string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size()};
}
inline std::string bytes_of(std::u16string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size() * 2};
}

// The reference: iconv's output up to the first sequence it rejects, and why it stopped.
struct Reference {
  std::string out;
  int error = 0;  // 0, EILSEQ or EINVAL (input ends inside a sequence)
};
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  Reference operator()(std::string_view in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    Reference ref;
    ref.out.resize(in.size() * 4 + 8);
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = ref.out.data();
    size_t dst_left = ref.out.size();
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1))
      ref.error = errno;
    ref.out.resize(ref.out.size() - dst_left);
    return ref;
  }

 private:
  iconv_t cd_;
};

// Measures, then converts into a buffer of exactly that size: the two passes must agree.
inline std::u16string decode(uint32_t cp, std::string_view in, int count, uint32_t flags = 0) {
  const int n = MultiByteToWideChar(cp, flags, in.data(), count, nullptr, 0);
  std::u16string out(static_cast<size_t>(std::max(n, 0)), u'\0');
  if (n > 0) {
    EXPECT_EQ(MultiByteToWideChar(cp, flags, in.data(), count, out.data(), n), n);
  }
  return out;
}
inline std::string encode(uint32_t cp, std::u16string_view in, int count,
                          const char* fallback = nullptr, int* used = nullptr) {
  const int n = WideCharToMultiByte(cp, 0, in.data(), count, nullptr, 0, fallback, used);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, in.data(), count, out.data(), n, fallback, used), n);
  }
  return out;
}

}  // namespace codepage_test
