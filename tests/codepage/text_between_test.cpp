// text_between as the handlers use it on pages and header blocks.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "web/codepage.h"

namespace {

TEST(TextBetween, CutsBetweenMarkers) {
  struct Case {
    const char* text;
    const char* left;
    const char* right;
    std::optional<int32_t> start;
    std::optional<bool> case_insensitive;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a<b>c", "<", ">", {}, {}, "b"},
      {"a<b", "<", ">", {}, {}, ""},                 // no right marker
      {"a>b", "<", ">", {}, {}, ""},                 // no left marker
      {"x=\"1\"", "x=#引号", "#引号", {}, {}, "1"},  // the token names a double quote
      {"k1=v1;k2=v2", "k2=", ";", {}, {}, ""},       // no ';' after 'k2='
      {"k1=v1;", "", ";", {}, {}, "k1=v1"},          // an empty left marker matches at 1
      {"k1=v1;", "k1=", "", {}, {}, ""},             // an empty right marker is found before P1
      {"<a>xy>z", "<a>", ">", {}, {}, "xy"},         // the '>' of the left marker does not count
      {"<1><2>", "<", ">", 3, {}, "2"},
      {"<1><2>", "<", ">", 7, {}, ""},
      {"<B>x</B>", "<b>", "</b>", {}, true, "x"},
      {"<B>x</B>", "<b>", "</b>", {}, false, ""},
      {"片名：霸王别姬。年份：1993。", "片名：", "。", {}, {}, "霸王别姬"},
      {"年份：1993。", "：", "。", {}, {}, "1993"},
      {"霸王>x", "\xD4\xCD", ">", {}, {}, ""},  // bytes across two characters do not match
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " | " + c.left + " | " + c.right);
    EXPECT_EQ(web::text_between(c.text, c.left, c.right, c.start, c.case_insensitive).view(),
              c.expected);
  }
}

// The markers arrive by reference, as the caller's text variables; the variables keep their
// "#引号" tokens, which are replaced only in copies.
TEST(TextBetween, MarkersMayBeTheCallersVariables) {
  char* left = rt::make_text("href=#引号");
  char* right = rt::make_text("#引号");
  const rt::Text owners[] = {rt::Text::adopt(left), rt::Text::adopt(right)};
  const rt::Text cut = rt::call_text(&web::cmd::text_between, "<a href=\"/v/7.html\">",
                                     rt::Ref<char*>{&left}, rt::Ref<char*>{&right});
  EXPECT_EQ(cut.view(), "/v/7.html");
  EXPECT_STREQ(left, "href=#引号");
}

TEST(TextBetween, MissingArgumentsReadAsEmpty) {
  EXPECT_EQ(web::text_between(nullptr, "<", ">").get(), nullptr);
  EXPECT_EQ(web::text_between("a<b>c", nullptr, nullptr).get(), nullptr);
  EXPECT_EQ(rt::call_text(&web::cmd::text_between).get(), nullptr);
  // A null variable reads as the empty marker, which matches at 1.
  EXPECT_EQ(rt::call_text(&web::cmd::text_between, "a<b>c", rt::Ref<char*>{nullptr}, ">").view(),
            "a<b");
}

}  // namespace
