// The conversion commands as the handlers use them: through cells, through the program's
// dynamic-library table (the kernel library sits next to this test), with the sizing rules.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "web/codepage.h"

namespace {

std::string utf8(std::u8string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size()};
}
std::string units(std::u16string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size() * 2};
}
std::string data_of(const rt::Bytes& b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}
rt::Bytes byte_set(std::string_view data) {
  return rt::Bytes({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
}

TEST(CodePageCommands, ChineseTitlesRoundTripBetweenUtf8AndLocal) {
  struct Case {
    std::string utf8;
    std::string local;
  };
  const std::vector<Case> cases = {
      {utf8(u8"霸王别姬"), "霸王别姬"},
      {utf8(u8"肖申克的救赎 The Shawshank Redemption (1994)"),
       "肖申克的救赎 The Shawshank Redemption (1994)"},
      {utf8(u8"<li><a href=\"/v/7.html\">卧虎藏龙</a>：第01集 €5</li>\r\n"),
       "<li><a href=\"/v/7.html\">卧虎藏龙</a>：第01集 \x80"
       "5</li>\r\n"},  // the euro is 0x80
      {"plain ASCII stays as it is", "plain ASCII stays as it is"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.local);
    EXPECT_EQ(web::utf8_to_local(c.utf8.c_str()).view(), c.local);
    EXPECT_EQ(web::local_to_utf8(c.local.c_str()).view(), c.utf8);
  }
}

TEST(CodePageCommands, EmptyAndMissingInputGiveEmptyResults) {
  EXPECT_EQ(web::utf8_to_local("").get(), nullptr);
  EXPECT_EQ(web::local_to_utf8(nullptr).get(), nullptr);
  EXPECT_EQ(web::text_to_utf16("").get(), nullptr);  // measures 0 units: the empty byte set
  EXPECT_EQ(web::utf16_to_text(nullptr).get(), nullptr);
  EXPECT_EQ(rt::call_text(&web::cmd::utf8_to_local).get(), nullptr);
  EXPECT_EQ(rt::call_text(&web::cmd::utf16_to_text, int32_t{5}).get(), nullptr);
  EXPECT_EQ(rt::call_text(&web::cmd::local_to_utf8, rt::Ref<char*>{nullptr}).get(), nullptr);
}

// The UTF-16 block is sized by reading the text in the ANSI code page, whatever the code page
// converted from: larger when that reading gives more units, all zero when it gives fewer.
TEST(CodePageCommands, Utf16IsSizedInTheAnsiCodePage) {
  struct Case {
    std::string text;
    std::optional<int32_t> code_page;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"abc", {}, units(std::u16string_view(u"abc", 4))},
      {"电影", 936, units(std::u16string_view(u"电影", 3))},
      {"电影", 0, units(std::u16string_view(u"电影", 3))},
      // Six UTF-8 bytes read as three GBK pairs: four units, one more than the text needs.
      {utf8(u8"电影"), {}, units(std::u16string_view(u"电影\0", 4))},
      // GBK bytes read as UTF-8 need three units where two were measured: nothing is written.
      {"电", {}, std::string(4, '\0')},
      // So does broken UTF-8 that reads as fewer characters in the ANSI code page ("\xE9s" is
      // one there, U+FFFD and "s" in UTF-8).
      {"Caf\xE9s", {}, std::string(10, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(data_of(web::text_to_utf16(c.text.c_str(), c.code_page)), c.expected);
  }
  // Those zero bytes read back as the empty text, also after a longer conversion has used the
  // same buffers.
  EXPECT_EQ(web::utf8_to_local(utf8(u8"霸王别姬 1993").c_str()).view(), "霸王别姬 1993");
  EXPECT_EQ(web::utf8_to_local("电").get(), nullptr);
}

// The text buffer is twice what the ANSI code page needs. Characters with no GBK form take one
// byte ("?") there and three in UTF-8, so three of them overflow it and the spaces remain.
TEST(CodePageCommands, TextBufferIsTwiceTheAnsiSize) {
  struct Case {
    std::u16string units;
    std::optional<int32_t> code_page;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {std::u16string(u"电影", 3), {}, "电影"},
      {std::u16string(u"กกก", 4), {}, "???"},
      {std::u16string(u"ก", 2), 65001, utf8(u8"ก")},
      {std::u16string(u"กกก", 4), 65001, std::string(8, ' ')},
      {u"AB", {}, "AB"},                      // no zero unit in the set
      {std::u16string(u"A\0B", 3), {}, "A"},  // stops at the first zero unit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(web::utf16_to_text(byte_set(units(c.units)), c.code_page).view(), c.expected);
  }
  EXPECT_EQ(web::utf16_to_text(byte_set(std::string_view("A\0B", 3))).view(),
            "A");  // half a unit is dropped
}

TEST(CodePageCommands, ArgumentsMayBeTheCallersVariables) {
  char* title = rt::make_text(utf8(u8"卧虎藏龙"));
  const rt::Text owner = rt::Text::adopt(title);
  EXPECT_EQ(rt::call_text(&web::cmd::utf8_to_local, rt::Ref<char*>{&title}).view(), "卧虎藏龙");

  const rt::Bytes block = web::text_to_utf16("霸王别姬", 936);
  const uint8_t* variable = block.get();
  EXPECT_EQ(rt::call_text(&web::cmd::utf16_to_text, rt::Ref<const uint8_t*>{&variable}).view(),
            "霸王别姬");
}

}  // namespace
