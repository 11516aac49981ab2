// split_text's one-pass cut for separators of one and two bytes (the copy and the comparison
// sixteen or thirty-two bytes at a time), held to a plain character walk: separators at every
// offset of a vector, across vector ends and at the text's end, lead-range runs before a
// separator, the count limit, and random texts. Texts sit in blocks of exactly their size, so a
// read past the end is an error under the address sanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "web/commands.h"

namespace {

// Cuts where the separator starts a character; a lead byte (0x80 and up) takes the byte after
// it, and a lone lead byte at the end ends the walk.
std::vector<std::string> plain_split(std::string_view text, std::string_view separator,
                                     size_t limit) {
  std::vector<std::string> out;
  size_t pos = 0;
  size_t i = 0;
  while (i < text.size() && out.size() < limit) {
    const bool lead = static_cast<uint8_t>(text[i]) >= 0x80;
    if (lead && i + 1 == text.size())
      break;
    if (text.substr(i, separator.size()) == separator) {
      out.emplace_back(text.substr(pos, i - pos));
      pos = i = i + separator.size();
      continue;
    }
    i += lead ? 2 : 1;
  }
  if (pos < text.size() && out.size() < limit)
    out.emplace_back(text.substr(pos));
  return out;
}

std::vector<std::string> split_exact(const std::string& text, const std::string& separator,
                                     std::optional<int32_t> max_count = std::nullopt) {
  const auto exact = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(exact.get(), text.c_str(), text.size() + 1);
  const rt::Array array = max_count ? web::split_text(exact.get(), separator.c_str(), *max_count)
                                    : web::split_text(exact.get(), separator.c_str());
  std::vector<std::string> got;
  for (size_t i = 0; i < array.size(); ++i) {
    const char* element = array.text_at(i);
    EXPECT_TRUE(element == nullptr || *element != 0) << "element " << i;
    got.emplace_back(element ? element : "");
  }
  return got;
}

void expect_plain(const std::string& text, const std::string& separator,
                  std::optional<int32_t> max_count = std::nullopt) {
  SCOPED_TRACE(testing::PrintToString(text) + " / " + testing::PrintToString(separator));
  const size_t limit = max_count ? static_cast<size_t>(std::max(*max_count, 0)) : size_t(-1);
  EXPECT_EQ(split_exact(text, separator, max_count), plain_split(text, separator, limit));
}

TEST(SplitOnePass, SeparatorAtEveryOffsetAndEveryLength) {
  for (const std::string separator : {"\r\n", ","}) {
    for (size_t length = 0; length <= 100; ++length) {
      for (size_t at = 0; at + separator.size() <= length; ++at) {
        std::string text(length, 'a');
        text.replace(at, separator.size(), separator);
        expect_plain(text, separator);
      }
    }
  }
}

TEST(SplitOnePass, CarriageReturnAtAVectorEndAndLineFeedAfterIt) {
  for (const size_t at : {15u, 31u, 47u, 63u, 95u}) {
    std::string text(130, 'x');
    text[at] = '\r';
    text[at + 1] = '\n';
    EXPECT_EQ(split_exact(text, "\r\n"),
              (std::vector<std::string>{text.substr(0, at), text.substr(at + 2)}));
    text[at + 1] = 'y';  // a lone "\r" is no separator
    EXPECT_EQ(split_exact(text, "\r\n"), std::vector<std::string>{text});
  }
  // A text that ends on "\r", and one that ends on the separator right after a vector.
  EXPECT_EQ(split_exact(std::string(64, 'x') + "\r", "\r\n"),
            std::vector<std::string>{std::string(64, 'x') + "\r"});
  EXPECT_EQ(split_exact(std::string(64, 'x') + "\r\n", "\r\n"),
            std::vector<std::string>{std::string(64, 'x')});
}

// A byte after a lead byte is its trail, even "\r": the separator then starts a character only
// after an even run of lead-range bytes.
TEST(SplitOnePass, TrailBytesAreNeverCut) {
  for (size_t run = 0; run <= 5; ++run) {
    for (size_t before = 0; before <= 40; ++before) {
      const std::string text =
          std::string(before, 'a') + std::string(run, '\xB0') + "\r\n" + std::string(40, 'b');
      expect_plain(text, "\r\n");
      expect_plain(text, "\r");
      expect_plain(text, "\xB0");
    }
  }
  EXPECT_EQ(split_exact("\x81\r\nab", "\r\n"), std::vector<std::string>{"\x81\r\nab"});
  EXPECT_EQ(split_exact(std::string(33, 'a') + "\x81\r\n", "\r\n"),
            std::vector<std::string>{std::string(33, 'a') + "\x81\r\n"});
  EXPECT_EQ(split_exact("a\xB0\xB0\r\nb", "\r\n"), (std::vector<std::string>{"a\xB0\xB0", "b"}));
  // A lone lead byte at the end is no separator.
  EXPECT_EQ(split_exact(std::string(40, 'a') + "\xB0", "\xB0"),
            std::vector<std::string>{std::string(40, 'a') + "\xB0"});
}

// The text ends at its zero byte, wherever the caller's block goes on.
TEST(SplitOnePass, TheTextEndsAtItsZeroByte) {
  std::string text = std::string(40, 'a') + "\r\nb";
  text += '\0';
  text += "c\r\nd" + std::string(40, 'e');
  EXPECT_EQ(web::split_text(text.c_str(), "\r\n").size(), 2u);
  EXPECT_EQ(split_exact(text.c_str(), "\r\n"),
            (std::vector<std::string>{std::string(40, 'a'), "b"}));
}

TEST(SplitOnePass, TheCountLimitStopsTheCut) {
  std::string page;
  for (int i = 0; i < 200; ++i) page += "line " + std::to_string(i) + "\r\n";
  for (const int32_t max_count : {0, 1, 2, 7, 199, 200, 201, 5000}) {
    SCOPED_TRACE(max_count);
    expect_plain(page, "\r\n", max_count);
  }
  EXPECT_EQ(split_exact(page, "\r\n", 3), (std::vector<std::string>{"line 0", "line 1", "line 2"}));
}

TEST(SplitOnePass, RandomTextsAsThePlainWalk) {
  std::mt19937 rng(11);
  const std::string alphabet = "ab\r\n\r\n,\x81\xB0\xA1";
  const std::vector<std::string> separators = {"\r\n", "\r",     "\n",   ",",
                                               "\xB0", "\xB0\r", "\n\r", "\r\r"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t length = rng() % 200;
    for (size_t i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
    const std::string& separator = separators[rng() % separators.size()];
    const auto max_count =
        round % 3 == 0 ? std::optional<int32_t>(static_cast<int32_t>(rng() % 40)) : std::nullopt;
    expect_plain(text, separator, max_count);
  }
}

}  // namespace
