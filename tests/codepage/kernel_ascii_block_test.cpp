// Runs of ASCII found a block at a time: runs ending at every offset of a block next to longer
// sequences, broken sequences across a block's end, texts ending inside a block, and random
// texts, each held to a conversion one character at a time. Inputs sit in blocks of their exact
// size, so a read past their end shows under the address sanitizer.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codepage/kernel_support.h"
#include "fuzz/reference_coders.h"

namespace {

using codepage_test::kGbk;
using codepage_test::kUtf8;

// A copy of `text` in a block of exactly its size.
template <typename Char>
std::unique_ptr<Char[]> exact_copy(std::basic_string_view<Char> text) {
  auto copy = std::make_unique<Char[]>(text.size());
  std::copy(text.begin(), text.end(), copy.get());
  return copy;
}

std::u16string decode_exact(uint32_t cp, std::string_view text, uint32_t flags = 0) {
  const auto copy = exact_copy(text);
  return codepage_test::decode(cp, std::string_view(copy.get(), text.size()),
                               static_cast<int>(text.size()), flags);
}
std::string encode_exact(uint32_t cp, std::u16string_view text) {
  const auto copy = exact_copy(text);
  return codepage_test::encode(cp, std::u16string_view(copy.get(), text.size()),
                               static_cast<int>(text.size()));
}

// UTF-8 read a byte at a time: one U+FFFD for each maximal part of a sequence that breaks off.
std::u16string reference_utf8_decode(std::string_view text) {
  return fuzz::reference::reference_utf8(text).units;
}

// UTF-16 written a character at a time, each through its own call (too short for a block).
std::string reference_encode(uint32_t cp, std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    const size_t length = pair ? 2 : 1;
    out += codepage_test::encode(cp, text.substr(i, length), static_cast<int>(length));
    i += length;
  }
  return out;
}

// Code page 936 text without broken pairs read a character at a time, each through its own call.
std::u16string reference_gbk_decode(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const size_t length = static_cast<uint8_t>(text[i]) < 0x80 ? 1 : 2;
    out += codepage_test::decode(kGbk, text.substr(i, length), static_cast<int>(length));
    i += length;
  }
  return out;
}

// Sequences that may follow or precede a run: whole ones of each length and broken ones.
const std::vector<std::string>& neighbours() {
  static const std::vector<std::string> list = {
      codepage_test::utf8(u8"é"),
      codepage_test::utf8(u8"霸"),
      codepage_test::utf8(u8"😀"),
      "\xE9\x9C",          // a three-byte sequence cut short
      "\xF0\x9F\x98",      // a four-byte sequence cut short
      "\x80",              // a stray continuation byte
      "\xC0\xAF",          // overlong
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
  };
  return list;
}

TEST(KernelAsciiBlock, Utf8RunsEndingAtEveryOffsetBesideSequences) {
  for (const std::string& seq : neighbours()) {
    for (size_t before = 0; before <= 70; ++before) {
      for (size_t after : {0, 1, 15, 16, 17}) {
        const std::string text = std::string(before, 'a') + seq + std::string(after, 'b');
        EXPECT_EQ(decode_exact(kUtf8, text), reference_utf8_decode(text))
            << before << " before, " << after << " after";
      }
    }
  }
}

TEST(KernelAsciiBlock, Utf8BrokenSequenceAcrossABlockEnd) {
  // A sequence starting near the end of one block whose missing bytes are ASCII in the next.
  for (const std::string& seq : {std::string("\xE9\x9C"), std::string("\xF0\x9F\x98"),
                                 std::string("\xC3"), std::string("\xF0\x9F")}) {
    for (size_t before = 0; before < 48; ++before) {
      const std::string text = std::string(before, 'x') + seq + std::string(40, 'y') + seq;
      EXPECT_EQ(decode_exact(kUtf8, text), reference_utf8_decode(text)) << before;
      EXPECT_EQ(decode_exact(kUtf8, text, kernel::kErrInvalidChars), u"") << before;
    }
  }
}

TEST(KernelAsciiBlock, UnitRunsEndingAtEveryOffsetBesideCharacters) {
  for (const std::u16string& unit :
       {std::u16string(u"é"), std::u16string(u"霸"), std::u16string(u"😀"),
        std::u16string(1, u'\xD800'), std::u16string(1, u'\xDC00'), std::u16string(u"\u0100"),
        std::u16string(u"\u00FF")}) {
    for (size_t before = 0; before <= 70; ++before) {
      for (size_t after : {0, 1, 15, 16, 17}) {
        const std::u16string text =
            std::u16string(before, u'a') + unit + std::u16string(after, u'b');
        EXPECT_EQ(encode_exact(kGbk, text), reference_encode(kGbk, text)) << before << " " << after;
        EXPECT_EQ(encode_exact(kUtf8, text), reference_encode(kUtf8, text))
            << before << " " << after;
      }
    }
  }
}

TEST(KernelAsciiBlock, TextsEndingInsideABlock) {
  for (size_t size = 1; size <= 40; ++size) {
    const std::string text(size, 'q');
    EXPECT_EQ(decode_exact(kUtf8, text), std::u16string(size, u'q')) << size;
    EXPECT_EQ(decode_exact(kGbk, text), std::u16string(size, u'q')) << size;
    const std::u16string units(size, u'q');
    EXPECT_EQ(encode_exact(kGbk, units), text) << size;
    EXPECT_EQ(encode_exact(kUtf8, units), text) << size;
  }
}

TEST(KernelAsciiBlock, RandomTextsMatchTheReference) {
  std::mt19937 random(20261208);
  const std::vector<std::string>& seqs = neighbours();
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const size_t pieces = random() % 30;
    for (size_t p = 0; p < pieces; ++p) {
      if (random() % 3 == 0)
        text += seqs[random() % seqs.size()];
      else
        text += std::string(random() % 40, static_cast<char>('A' + random() % 26));
    }
    if (text.empty())
      continue;
    const std::u16string units = reference_utf8_decode(text);
    EXPECT_EQ(decode_exact(kUtf8, text), units) << round;
    EXPECT_EQ(encode_exact(kGbk, units), reference_encode(kGbk, units)) << round;
    EXPECT_EQ(encode_exact(kUtf8, units), reference_encode(kUtf8, units)) << round;
    const std::string local = reference_encode(kGbk, units);
    EXPECT_EQ(decode_exact(kGbk, local), reference_gbk_decode(local)) << round;
  }
}

}  // namespace
