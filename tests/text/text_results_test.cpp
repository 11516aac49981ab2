// The blocks the text commands hand back: a terminated text of the result's length in a block of
// about that size, whether the result was written in place or grew while it was built.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>

#include "web/commands.h"

namespace {

size_t block_size(const rt::Text& text) {
  return malloc_usable_size(const_cast<char*>(text.get()));
}

TEST(TextResults, AResultThatGrewKeepsAtMostAsMuchRoomAsItUses) {
  const struct {
    std::string text;
    const char* sought;
    const char* replacement;
    size_t grown_to;
  } cases[] = {
      {"abc", "b", "0123456789", 12},               // a block of 4 bytes would double to 16 KiB
      {std::string(5000, 'a'), "a", "xyz", 15000},  // past the first 16 KiB block
      {std::string(100'000, 'a'), "a", "xyz", 300'000},  // several doublings
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.grown_to);
    const rt::Text result = web::replace_text(c.text.c_str(), c.sought, c.replacement);
    ASSERT_NE(result.get(), nullptr);
    EXPECT_EQ(std::strlen(result.get()), c.grown_to) << "terminated right after the text";
    std::string expected;
    for (const char ch : c.text) expected += ch == *c.sought ? c.replacement : std::string(1, ch);
    EXPECT_EQ(result.view(), expected);
    // At most twice the text (and a page: large blocks are whole pages), never the 16 KiB
    // a short text's first growth jumps to.
    EXPECT_LT(block_size(result), 2 * (c.grown_to + 1) + 4096);
    if (c.grown_to < 100) {
      EXPECT_LT(block_size(result), 64u);
    }
  }
}

TEST(TextResults, ResultsWrittenInPlaceAreTerminatedAtTheirLength) {
  const std::string text =
      "  Ab Cd\xA1\xA1"
      "ef  " +
      std::string(20'000, 'Q') + " x";
  const rt::Text lower = web::to_lower_case(text.c_str());
  EXPECT_EQ(std::strlen(lower.get()), text.size());
  EXPECT_EQ(lower.view().substr(0, 12),
            "  ab cd\xA1\xA1"
            "ef ");
  const rt::Text no_spaces = web::remove_spaces(text.c_str());
  EXPECT_EQ(std::strlen(no_spaces.get()), text.size() - 8) << "six spaces and a wide one";
  const rt::Text shrunk = web::replace_text(text.c_str(), "Q", "");
  EXPECT_EQ(shrunk.view(),
            "  Ab Cd\xA1\xA1"
            "ef   x");
}

TEST(TextResults, AnEmptyResultIsNoBlock) {
  EXPECT_EQ(web::replace_text("aaa", "a", "").get(), nullptr);
  EXPECT_EQ(web::remove_spaces("   ").get(), nullptr);
  EXPECT_EQ(web::spaces_text(0).get(), nullptr);
}

}  // namespace
