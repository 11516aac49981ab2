// utf8_to_local and local_to_utf8 measure their text once and size each step from what they
// know; their results must stay those of the two sizing steps the program has always run,
// utf16_to_text (text_to_utf16 (text, from), to), byte for byte, failures included.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/codepage.h"
#include "web/codepage.h"

namespace {

constexpr int32_t kLocal = 936;
constexpr int32_t kUtf8 = 65001;

std::string two_steps(const std::string& text, int32_t from, int32_t to) {
  return std::string(web::utf16_to_text(web::text_to_utf16(text.c_str(), from), to).view());
}

void expect_as_two_steps(const std::string& text) {
  SCOPED_TRACE(testing::PrintToString(text.substr(0, 200)));
  const std::string local = two_steps(text, kUtf8, kLocal);
  const std::string utf8 = two_steps(text, kLocal, kUtf8);
  EXPECT_EQ(web::utf8_to_local(text.c_str()).view(), local);
  EXPECT_EQ(web::local_to_utf8(text.c_str()).view(), utf8);
  EXPECT_EQ(web::code_pages::utf8_to_local(text), local);
  EXPECT_EQ(web::code_pages::local_to_utf8(text), utf8);
}

// Sequences well-formed and broken in either reading, after every length of ASCII across the
// converters' sixteen- and sixty-four-byte steps, and with ASCII after them or without.
TEST(Utf8Edges, EverySequenceAtEveryOffset) {
  const std::vector<std::string> sequences = {
      "\xE4\xB8\xAD",      // 中 in UTF-8
      "\xD6\xD0",          // 中 in code page 936
      "\xC3\xA9",          // é in UTF-8; a pair in code page 936
      "\xF0\x9F\x98\x80",  // beyond the BMP: two units, one default character
      "\xE9",              // Latin-1 é: broken UTF-8, a lead byte pairing the next byte
      "\xE4\xB8",          // cut short
      "\x80",              // a stray continuation; the euro in code page 936
      "\xC0\x80",          // overlong
      "\xFF\xFF",          // no character in either
      "\xA1\x40",          // a pair without a character
  };
  const std::string ascii = std::string(70, 'a') + "<b> x=\"1\"" + std::string(20, 'c');
  for (const std::string& sequence : sequences) {
    for (size_t before = 0; before <= 70; ++before) {
      for (const size_t after : {size_t{0}, size_t{1}, size_t{3}, size_t{17}}) {
        expect_as_two_steps(ascii.substr(0, before) + sequence + ascii.substr(before, after));
      }
    }
  }
}

// Mixed texts: the UTF-8 reading must fit the ANSI measure (broken input may not), and the
// UTF-8 written from a local text twice its ANSI size (runs of characters that are no
// character by themselves may not).
TEST(Utf8Edges, RandomTextsOfBothKinds) {
  const std::vector<std::string> pieces = {
      "a",    " ",    "<li>",     "\xE4\xB8\xAD", "\xD6\xD0",        "\xE9",
      "\xFF", "\x80", "\xC3\xA9", "\xA1",         "\xF0\x9F\x98\x80"};
  std::mt19937 rng(65001);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    for (size_t n = rng() % 30; n > 0; --n) text += pieces[rng() % pieces.size()];
    expect_as_two_steps(text);
  }
}

// Long texts are converted in pieces of some tens of kilobytes: characters, broken sequences
// and long runs without ASCII around where a piece would end must come out as from the whole.
TEST(Utf8Edges, LongTextsAcrossPieces) {
  const std::vector<std::string> fillers = {"\xE4\xB8\xAD", "\xD6\xD0", "\xE9", "\xFF"};
  for (const std::string& filler : fillers) {
    for (const size_t ascii : {size_t{0}, size_t{1}, size_t{2}, size_t{5}}) {
      for (const size_t size : {size_t{32 << 10}, size_t{40 << 10}, size_t{100 << 10}}) {
        // Runs of the filler broken by `ascii` ASCII bytes (none: one run of it all).
        std::string text;
        while (text.size() < size) {
          for (int k = 0; k < 7 && text.size() < size; ++k) text += filler;
          text += std::string(ascii, 'x');
        }
        SCOPED_TRACE(testing::PrintToString(filler) + " ascii " + std::to_string(ascii) + " size " +
                     std::to_string(size));
        expect_as_two_steps(text);
        expect_as_two_steps("<p>" + text + "</p>");
      }
    }
  }
}

TEST(Utf8Edges, FailuresAndTheirBorders) {
  // Broken UTF-8 that outgrows the ANSI measure gives nothing.
  EXPECT_EQ(web::utf8_to_local("Ch\xE9n").get(), nullptr);
  EXPECT_EQ(web::utf8_to_local("\xE9n").get(), nullptr);
  EXPECT_EQ(web::utf8_to_local("Ch\xE9").view(), "Ch?");
  // UTF-8 beyond twice the ANSI size, terminators counted, leaves that many spaces...
  EXPECT_EQ(web::local_to_utf8("\xFF\xFF").view(), std::string(6, ' '));
  EXPECT_EQ(web::code_pages::local_to_utf8("\xFF\xFF"), std::string(6, ' '));
  EXPECT_EQ(web::local_to_utf8("\xA1\x40\xA1\x40").view(), std::string(6, ' '));  // pairs of "?"
  // ... and exactly twice fits.
  EXPECT_EQ(web::local_to_utf8("\xFF\xFF"
                               "a")
                .view(),
            "\xEF\xBF\xBD\xEF\xBF\xBD"
            "a");
  // Characters of two local bytes take three in UTF-8: past two bytes a unit, within twice the
  // ANSI size.
  EXPECT_EQ(web::local_to_utf8("\xD6\xD0\xCE\xC4\xD6\xD0\xCE\xC4").view(),
            "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87");
  // The view forms read up to a zero byte, as a text ends there.
  EXPECT_EQ(web::code_pages::utf8_to_local(std::string_view("ab\0\xE9n", 5)), "ab");
  EXPECT_EQ(web::code_pages::local_to_utf8(std::string_view("\0ab", 3)), "");
}

// local_to_utf8 takes a unit's ANSI size to be at least one byte, as it is for every unit but
// the two of a surrogate pair (one default character); no local character reads as one.
TEST(Utf8Edges, NoLocalCharacterReadsAsASurrogate) {
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const std::u16string units = kernel::local_to_utf16(std::string_view(pair, 2));
      for (const char16_t unit : units) {
        ASSERT_FALSE(unit >= 0xD800 && unit <= 0xDFFF) << lead << " " << trail;
      }
    }
  }
}

}  // namespace
