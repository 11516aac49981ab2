// The one-pass conversions between UTF-8 and code page 936 against the two platform calls they
// stand for: random texts of ASCII runs of every length around whole, unmappable and broken
// characters, each in a block of its exact size, written into a block of exactly the room the
// conversion may use, so that a read or write past either shows under the address sanitizer.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codepage/kernel_support.h"

namespace {

using codepage_test::kGbk;
using codepage_test::kUtf8;

struct Converted {
  int64_t answer = 0;
  std::string out;
  size_t units = 0;
  size_t read = 0;
};

Converted one_pass_to_local(std::string_view text) {
  const std::vector<char> in(text.begin(), text.end());
  // No more room than the text's own size.
  std::vector<char> out(text.size());
  Converted c;
  c.answer = ff_utf8_to_local(in.data(), in.size(), out.data());
  if (c.answer > 0)
    c.out.assign(out.data(), static_cast<size_t>(c.answer));
  return c;
}

Converted one_pass_to_utf8(std::string_view text, size_t room) {
  const std::vector<char> in(text.begin(), text.end());
  std::vector<char> out(room);
  Converted c;
  c.units = 12345;
  c.read = 12345;
  c.answer = ff_local_to_utf8(in.data(), in.size(), out.data(), room, &c.read, &c.units);
  if (c.answer > 0)
    c.out.assign(out.data(), static_cast<size_t>(c.answer));
  return c;
}

// What the two calls give: nothing when strict UTF-8 refuses the text.
std::optional<std::string> two_calls_to_local(std::string_view text) {
  const int count = static_cast<int>(text.size());
  const std::u16string units = codepage_test::decode(kUtf8, text, count, kernel::kErrInvalidChars);
  if (units.empty())
    return std::nullopt;
  return codepage_test::encode(kGbk, units, static_cast<int>(units.size()));
}

// Whole characters of each kind, characters code page 936 lacks, and broken sequences.
const std::vector<std::string>& utf8_pieces() {
  static const std::vector<std::string> list = {
      codepage_test::utf8(u8"霸王别姬"),
      codepage_test::utf8(u8"导演："),
      codepage_test::utf8(u8"é"),
      codepage_test::utf8(u8"α"),
      codepage_test::utf8(u8"€"),
      codepage_test::utf8(u8"\u0100"),  // no form in code page 936
      codepage_test::utf8(u8"\u20A9"),  // nor this
      codepage_test::utf8(u8"😀"),       // a pair: one default character
      codepage_test::utf8(u8"\uE000"),
      std::string("\0", 1),
      "\xE9\x9C",          // cut short
      "\xF0\x9F\x98",      // cut short
      "\xC3",              // cut short
      "\x80",              // a stray continuation byte
      "\xC0\xAF",          // overlong
      "\xE0\x80\xAF",      // overlong
      "\xF0\x80\x80\xAF",  // overlong
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\xFF",
  };
  return list;
}

// Code page 936 bytes: pairs, bytes that stand alone, lead bytes without a trail, trails alone.
const std::vector<std::string>& local_pieces() {
  static const std::vector<std::string> list = {
      "\xB0\xD4\xCD\xF5",  // two characters
      "\xA6\xC1",          // a Greek letter: two bytes in UTF-8
      "\x80",              // one byte, three in UTF-8
      "\xFF",
      "\x81",  // a lead byte before a byte that cannot follow it
      "\x81\x7F",
      "\xA1\x40",
      "\xFE\xFE",
      std::string("\0", 1),
  };
  return list;
}

std::string random_text(std::mt19937& random, const std::vector<std::string>& pieces) {
  std::string text;
  const size_t count = random() % 24;
  for (size_t p = 0; p < count; ++p) {
    if (random() % 2 == 0) {
      text += pieces[random() % pieces.size()];
    } else {
      text += std::string(random() % 40, static_cast<char>('a' + random() % 26));
    }
  }
  return text;
}

void expect_to_local_as_two_calls(std::string_view text, const std::string& why) {
  const Converted one = one_pass_to_local(text);
  if (text.empty()) {
    EXPECT_EQ(one.answer, 0) << why;
    return;
  }
  const std::optional<std::string> two = two_calls_to_local(text);
  if (!two) {
    EXPECT_EQ(one.answer, -1) << why;
  } else {
    EXPECT_EQ(one.answer, static_cast<int64_t>(two->size())) << why;
    EXPECT_EQ(one.out, *two) << why;
  }
}

void expect_to_utf8_as_two_calls(std::string_view text, const std::string& why) {
  const int count = static_cast<int>(text.size());
  const std::u16string units = text.empty() ? u"" : codepage_test::decode(kGbk, text, count);
  const std::string utf8 =
      units.empty() ? "" : codepage_test::encode(kUtf8, units, static_cast<int>(units.size()));
  // Exactly the room it needs.
  const Converted fits = one_pass_to_utf8(text, utf8.size());
  EXPECT_EQ(fits.answer, static_cast<int64_t>(utf8.size())) << why;
  EXPECT_EQ(fits.out, utf8) << why;
  EXPECT_EQ(fits.units, units.size()) << why;
  EXPECT_EQ(fits.read, text.size()) << why;
  // Less room: whole characters up to it, then a second call on the rest with the room that is
  // left to fill goes on to the same text and units.
  for (const size_t room : {utf8.size() - 1, utf8.size() / 2, size_t{2}, size_t{0}}) {
    if (utf8.empty() || room >= utf8.size())
      continue;
    const Converted first = one_pass_to_utf8(text, room);
    const std::string at = why + " room " + std::to_string(room);
    ASSERT_GE(first.answer, 0) << at;  // no room at all is no failure either
    ASSERT_LT(first.read, text.size()) << at;
    ASSERT_LE(first.out.size(), room) << at;
    const Converted rest =
        one_pass_to_utf8(text.substr(first.read), utf8.size() - first.out.size());
    EXPECT_EQ(rest.read, text.size() - first.read) << at;
    EXPECT_EQ(first.out + rest.out, utf8) << at;
    EXPECT_EQ(first.units + rest.units, units.size()) << at;
  }
}

// Each piece between ASCII runs of 0-40 bytes before and up to 33 after, then random texts.
void check_framed_and_random(const std::vector<std::string>& pieces, unsigned seed,
                             void (*expect)(std::string_view, const std::string&)) {
  for (const std::string& piece : pieces) {
    for (size_t before = 0; before <= 40; ++before) {
      for (size_t after : {0, 1, 15, 16, 17, 33}) {
        const std::string text = std::string(before, 'a') + piece + std::string(after, 'b');
        expect(text, std::to_string(before) + " " + std::to_string(after));
      }
    }
  }
  std::mt19937 random(seed);
  for (int round = 0; round < 2000; ++round)
    expect(random_text(random, pieces), std::to_string(round));
}

TEST(KernelOnePass, Utf8ToLocalGivesWhatTheTwoCallsGive) {
  check_framed_and_random(utf8_pieces(), 20261208, &expect_to_local_as_two_calls);
}

TEST(KernelOnePass, LocalToUtf8GivesWhatTheTwoCallsGiveAndGoesOnWhereItsRoomEnded) {
  check_framed_and_random(local_pieces(), 8122026, &expect_to_utf8_as_two_calls);
}

TEST(KernelOnePass, EveryCharacterOfThePlaneMatchesTheTwoCalls) {
  // Each BMP character but the surrogates (which UTF-8 cannot hold) between ASCII, so that
  // every entry of the table is read; and each code page 936 pair back.
  std::string utf8;
  for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF)
      continue;
    utf8 += 'x';
    if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | c >> 6);
    } else {
      utf8 += static_cast<char>(0xE0 | c >> 12);
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    }
    utf8 += static_cast<char>(0x80 | (c & 0x3F));
  }
  expect_to_local_as_two_calls(utf8, "the plane");
  std::string local;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      local += static_cast<char>(lead);
      local += static_cast<char>(trail);
    }
  }
  expect_to_utf8_as_two_calls(local, "every pair");
}

}  // namespace
