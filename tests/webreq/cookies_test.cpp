#include <gtest/gtest.h>

#include "web/cookies.h"

namespace {

struct Merge {
  const char* old_cookies;
  const char* new_cookies;
  const char* merged;
};

TEST(CookieMerging, NewReplaceOldByNameAndDeletedDisappear) {
  const Merge cases[] = {
      {"a=1; b=2", "b=3", "b=3; a=1"},
      {"a=1; b=2", "a=deleted", "b=2"},
      {"sid = 7", "", "sid=7"},
      {"A=1", "a=2", "a=2; A=1"},
      {"x=1; x=2", "", "x=1"},
      {"", "", ""},
      {"a=1", "a=1", "a=1"},
      {"a=1;", "", "a=1"},
      {"flag; a=1", "flag", "flag; a=1"},
      {"", "s=1; t=2", "s=1; t=2"},
      {"s=1", "t=deleted; u=2", "u=2; s=1"},
      {"a=1　; b=2", "", "a=1; b=2"},  // an ideographic space is a space too
  };
  for (const Merge& c : cases) {
    SCOPED_TRACE(std::string(c.old_cookies) + " + " + c.new_cookies);
    rt::Text old_cookies(c.old_cookies);
    rt::Text new_cookies(c.new_cookies);
    const rt::Text merged = web::merge_cookies(old_cookies, new_cookies);
    EXPECT_EQ(merged.view(), c.merged);
    EXPECT_EQ(old_cookies.view(), c.merged) << "the old variable receives the merge";
    EXPECT_EQ(new_cookies.view().find(' '), std::string_view::npos);
  }
}

TEST(CookieMerging, ItemHelpers) {
  EXPECT_EQ(web::cookie_name(" sid =9").view(), "sid");
  EXPECT_EQ(web::cookie_name("bare").view(), "bare");
  EXPECT_EQ(web::cookie_name("=v").view(), "");

  const rt::Array items = web::split_text("a=1;b = 2;c", ";");
  EXPECT_TRUE(web::has_cookie_named(items, "b"));
  EXPECT_TRUE(web::has_cookie_named(items, "c"));
  EXPECT_FALSE(web::has_cookie_named(items, "B"));
  EXPECT_EQ(web::index_of_item(items, "c"), 3);
  EXPECT_EQ(web::index_of_item(items, "b"), -1);

  EXPECT_EQ(web::remove_duplicate_items("a; b; a; c; b", "; ").view(), "a; b; c");
  EXPECT_EQ(web::remove_duplicate_items("", "; ").view(), "");
}

}  // namespace
