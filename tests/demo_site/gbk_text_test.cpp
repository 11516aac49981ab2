// UTF-8 into GBK for the live site's GBK pages: what GBK lacks and what is not UTF-8 become "?",
// one per character or stray byte, and no prefix of a text is refused.
#include <gtest/gtest.h>

#include <string>

#include "demo-site/text_tools.h"

namespace {

std::string utf8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}

TEST(GbkText, CharactersAndStrayBytes) {
  struct Case {
    const char* label;
    std::string text, gbk;
  };
  const Case cases[] = {
      {"Chinese", utf8(u8"大漠孤烟"), "\xB4\xF3\xC4\xAE\xB9\xC2\xD1\xCC"},
      {"ASCII and punctuation", utf8(u8"a·“b”"),
       "a\xA1\xA4\xA1\xB0"
       "b\xA1\xB1"},
      {"empty", "", ""},
      {"a byte UTF-8 never holds",
       "a\xFF"
       "b",
       "a?b"},
      {"a character cut short", "\xE5\x91", "??"},
      {"a cut character before text",
       "\xE5"
       "ab",
       "?ab"},
      {"a character GBK lacks", utf8(u8"x😀y"), "x?y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(demo_site::utf8_to_gbk(c.text), c.gbk);
  }
}

TEST(GbkText, EveryPrefixConverts) {
  const std::string text = utf8(u8"第01集$http://x/1.mp4###😀追风少年") + "\xFF";
  for (size_t length = 0; length <= text.size(); ++length) {
    const auto gbk = demo_site::utf8_to_gbk(text.substr(0, length));
    ASSERT_TRUE(gbk) << length;
    EXPECT_LE(gbk->size(), length);
  }
}

}  // namespace
