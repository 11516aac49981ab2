// split_text's array, whose element texts share one block, and remove_spaces' sixteen-byte
// walk, each against a plain reading of the same rules.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/heap.h"
#include "web/commands.h"
#include "web/text_ops.h"

namespace {

std::string random_text(std::mt19937& rng, size_t length, std::string_view alphabet) {
  std::string t;
  for (size_t i = 0; i < length; ++i) t += alphabet[rng() % alphabet.size()];
  return t;
}

// Elements as views; the empty element must be the null text.
std::vector<std::string> elements_of(const rt::Array& array) {
  std::vector<std::string> got;
  for (size_t i = 0; i < array.size(); ++i) {
    const char* text = array.text_at(i);
    EXPECT_TRUE(text == nullptr || *text != 0) << "element " << i;
    got.emplace_back(text ? text : "");
  }
  return got;
}

// text_ops::split walks the same way into strings, one at a time.
TEST(SplitText, ElementsAreThoseOfTheWalk) {
  std::mt19937 rng(7);
  const std::vector<std::string> separators = {",", "\r\n", ",,", "\xB0", "a,"};
  for (int round = 0; round < 4000; ++round) {
    const std::string text = random_text(rng, rng() % 40, "a,,\r\n\xB0\xA1 ");
    const std::string& separator = separators[rng() % separators.size()];
    const int32_t max_count = static_cast<int32_t>(rng() % 6) - 1;
    SCOPED_TRACE(testing::PrintToString(text) + " / " + testing::PrintToString(separator) + " / " +
                 std::to_string(max_count));
    const bool limited = round % 2 == 0;
    const rt::Array array = limited ? web::split_text(text.c_str(), separator.c_str(), max_count)
                                    : web::split_text(text.c_str(), separator.c_str());
    EXPECT_EQ(elements_of(array),
              web::text_ops::split(text, separator,
                                   limited ? std::optional<int32_t>(max_count) : std::nullopt));
  }
}

TEST(SplitText, SeparatorsAtTheEndsAndNothingToCut) {
  const struct {
    const char* text;
    const char* separator;
    std::vector<std::string> expected;
  } cases[] = {
      {"\r\nab\r\n\r\ncd\r\n", "\r\n", {"", "ab", "", "cd"}},
      {"\r\n", "\r\n", {""}},
      {"\r\n\r\n", "\r\n", {"", ""}},
      {"abc", "\r\n", {"abc"}},
      {"", "\r\n", {}},
      {"ab\r", "\r\n", {"ab\r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(elements_of(web::split_text(c.text, c.separator)), c.expected);
  }
}

// The program frees, replaces and moves elements one by one, and frees the rest with the array.
TEST(SplitText, ElementsAreFreedAndReplacedOneByOne) {
  const size_t before = rt::shared_block_count();
  std::string page;
  for (int i = 0; i < 300; ++i) page += "line " + std::to_string(i) + "\r\n\r\n";
  rt::Array lines = web::split_text(page.c_str(), "\r\n");
  ASSERT_EQ(lines.size(), 600u);
  EXPECT_EQ(rt::shared_block_count(), before + 1);  // one block for all the texts

  uint8_t* elements = lines.shape().elements;
  const auto slot = [elements](size_t i) { return elements + i * sizeof(char*); };
  const auto load = [&](size_t i) {
    char* p;
    std::memcpy(&p, slot(i), sizeof p);
    return p;
  };
  const auto store = [&](size_t i, char* p) { std::memcpy(slot(i), &p, sizeof p); };
  // Replaced by a new text, by the empty text, and moved into a larger block of its own.
  rt::free_block(load(0));
  store(0, rt::make_text("replaced"));
  rt::free_block(load(2));
  store(2, nullptr);
  char* moved = static_cast<char*>(rt::reallocate(load(598), 100));
  std::strcat(moved, " and more");
  store(598, moved);
  // Taken out of the array: its owner frees it later.
  rt::Text taken = rt::Text::adopt(load(4));
  store(4, nullptr);

  EXPECT_STREQ(lines.text_at(0), "replaced");
  EXPECT_STREQ(lines.text_at(6), "line 3");
  EXPECT_STREQ(lines.text_at(598), "line 299 and more");
  EXPECT_EQ(lines.text_at(599), nullptr);
  lines.reset();
  EXPECT_EQ(rt::shared_block_count(), before + 1);
  EXPECT_EQ(taken.view(), "line 2");
  taken.reset();
  EXPECT_EQ(rt::shared_block_count(), before);
}

// --- remove_spaces ---

std::string plain_remove_spaces(std::string_view t) {
  std::string out;
  for (size_t i = 0; i < t.size();) {
    const auto b = static_cast<uint8_t>(t[i]);
    if (b < 0x80) {
      if (b != ' ')
        out += t[i];
      ++i;
    } else if (i + 1 == t.size()) {
      out += t[i++];
    } else {
      if (!(b == 0xA1 && static_cast<uint8_t>(t[i + 1]) == 0xA1))
        out += t.substr(i, 2);
      i += 2;
    }
  }
  return out;
}

// The text in a block of exactly its size, so that a read past its end is an error under the
// address sanitizer; both the command (a heap text) and the view form are checked.
void expect_plain(const std::string& text) {
  SCOPED_TRACE(testing::PrintToString(text));
  const std::string expected = plain_remove_spaces(text);
  EXPECT_EQ(web::remove_spaces(text.c_str()).view(), expected);
  const auto exact = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(exact.get(), text.data(), text.size());
  EXPECT_EQ(web::text_ops::remove_spaces(std::string_view(exact.get(), text.size())), expected);
}

// Each kind of byte at every offset of two sixty-four-byte blocks and the bytes around them,
// and so of the sixteen-byte blocks within them.
TEST(RemoveSpaces, EveryCharacterKindAtEveryOffset) {
  const std::string line = "ab cd  efg h ijklmnop qrst  uv wxyz0123 456 789 ABCDEFGHIJK LMN";
  const std::string background = line + " " + line + "\xB0\xA1  x";
  const std::vector<std::string> kinds = {
      " ",    "\xA1\xA1", "\xB0\xA1", "\xB0 ",    "\xA1\xA1\xA1\xA1", "\xB0\xA1\xA1\xA1",
      "\xB0", "       ",  "\xA1",     "\x81\x40 "};
  for (const std::string& kind : kinds) {
    for (size_t length = 0; length <= background.size(); ++length) {
      for (size_t at = 0; at <= length; ++at) {
        std::string text = background.substr(0, length);
        text.insert(at, kind);
        expect_plain(text);
      }
    }
  }
}

TEST(RemoveSpaces, RandomTexts) {
  std::mt19937 rng(20);
  for (int round = 0; round < 3000; ++round) {
    expect_plain(random_text(rng, rng() % 100, round % 2 ? "ab  \xA1\xB0" : "abcdefgh   "));
  }
  EXPECT_EQ(web::remove_spaces(std::string(100, ' ').c_str()).get(), nullptr);
}

}  // namespace
