// The conversions read their input up to its end and no further: counted input up to its count,
// input of unknown length (count -1) up to and including its terminator. Texts are placed right
// before a page that cannot be read, so a read past their end ends the test; and in blocks of
// their exact size, where the address sanitizer sees a read past them even inside a page.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codepage/kernel_support.h"
#include "platform/kernel/codepage.h"

namespace {

using namespace codepage_test;

// Two pages, the second unreadable: bytes placed with at_end() end where it begins.
class GuardedPage {
 public:
  GuardedPage() : size_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    void* map =
        mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
      return;
    base_ = static_cast<uint8_t*>(map);
    if (mprotect(base_ + size_, size_, PROT_NONE) != 0) {
      munmap(base_, 2 * size_);
      base_ = nullptr;
    }
  }
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;
  ~GuardedPage() {
    if (base_)
      munmap(base_, 2 * size_);
  }

  bool ready() const { return base_ != nullptr; }
  // A copy of `bytes` ending at the unreadable page.
  const uint8_t* at_end(const std::string& bytes) {
    uint8_t* start = base_ + size_ - bytes.size();
    std::memcpy(start, bytes.data(), bytes.size());
    return start;
  }

 private:
  size_t size_;
  uint8_t* base_ = nullptr;
};

// Texts of every length up to a few chunks, so that each ends at every offset of a block and of
// a chunk: runs of ASCII (the block paths) and ASCII with a character that is not.
std::vector<std::u16string> texts() {
  std::vector<std::u16string> out;
  for (size_t n = 1; n <= 200; ++n) {
    std::u16string ascii;
    for (size_t i = 0; i < n; ++i) ascii += static_cast<char16_t>(u'a' + i % 26);
    out.push_back(ascii);
    std::u16string mixed = ascii;
    mixed[n / 2] = u'\u4E2D';  // 中
    out.push_back(mixed);
  }
  return out;
}

std::string as_bytes(uint32_t cp, const std::u16string& text) {
  return encode(cp, text, static_cast<int>(text.size()));
}

std::u16string decoded(uint32_t cp, const uint8_t* in, int count) {
  const auto* bytes = reinterpret_cast<const char*>(in);
  const int n = MultiByteToWideChar(cp, 0, bytes, count, nullptr, 0);
  std::u16string out(static_cast<size_t>(std::max(n, 0)), u'\0');
  if (n > 0) {
    EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes, count, out.data(), n), n);
  }
  return out;
}

std::string encoded(uint32_t cp, const uint8_t* in, int count) {
  const auto* units = reinterpret_cast<const char16_t*>(in);
  const int n = WideCharToMultiByte(cp, 0, units, count, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, units, count, out.data(), n, nullptr, nullptr), n);
  }
  return out;
}

TEST(KernelInputEnd, DecodingStopsAtTheEndOfTextBeforeAnUnreadablePage) {
  GuardedPage page;
  ASSERT_TRUE(page.ready());
  for (const uint32_t cp : {kGbk, kGb18030, kUtf8}) {
    for (const std::u16string& text : texts()) {
      SCOPED_TRACE(std::to_string(cp) + ", " + std::to_string(text.size()) + " units");
      const std::string bytes = as_bytes(cp == kGb18030 ? kGbk : cp, text);
      const auto count = static_cast<int>(bytes.size());
      EXPECT_EQ(decoded(cp, page.at_end(bytes), count), text);
      EXPECT_EQ(decoded(cp, page.at_end(bytes + '\0'), -1), text + u'\0');
    }
  }
}

TEST(KernelInputEnd, EncodingStopsAtTheEndOfTextBeforeAnUnreadablePage) {
  GuardedPage page;
  ASSERT_TRUE(page.ready());
  for (const uint32_t cp : {kGbk, kUtf8}) {
    for (const std::u16string& text : texts()) {
      SCOPED_TRACE(std::to_string(cp) + ", " + std::to_string(text.size()) + " units");
      const std::string expected = as_bytes(cp, text);
      const auto count = static_cast<int>(text.size());
      EXPECT_EQ(encoded(cp, page.at_end(bytes_of(text)), count), expected);
      EXPECT_EQ(encoded(cp, page.at_end(bytes_of(text + u'\0')), -1), expected + '\0');
    }
  }
}

// A page cannot fence off the bytes after a terminator inside it; a block of the text's own size
// on the heap can, for the address sanitizer.
TEST(KernelInputEnd, TextRunningToItsTerminatorIsReadNoFurther) {
  for (const std::u16string& text : texts()) {
    SCOPED_TRACE(std::to_string(text.size()) + " units");
    for (const uint32_t cp : {kGbk, kGb18030, kUtf8}) {
      const std::string bytes = as_bytes(cp == kGb18030 ? kGbk : cp, text);
      const auto block = std::make_unique<uint8_t[]>(bytes.size() + 1);
      std::memcpy(block.get(), bytes.c_str(), bytes.size() + 1);
      EXPECT_EQ(decoded(cp, block.get(), -1), text + u'\0');
    }
    const std::string units = bytes_of(text + u'\0');
    const auto block = std::make_unique<uint8_t[]>(units.size());
    std::memcpy(block.get(), units.data(), units.size());
    for (const uint32_t cp : {kGbk, kUtf8})
      EXPECT_EQ(encoded(cp, block.get(), -1), as_bytes(cp, text) + '\0');
  }
}

}  // namespace
