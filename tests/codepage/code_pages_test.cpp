// The UTF-8 edge conversions as C++ functions over views: the view may be cut out of a longer
// text, and the conversion reads it to its end and no further (the commands read a text up to
// its terminator).
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "web/codepage.h"

namespace {

using web::code_pages::local_to_utf8;
using web::code_pages::utf8_to_local;

constexpr std::string_view kUtf8Title = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
constexpr std::string_view kLocalTitle = "\xD6\xD0\xCE\xC4";

TEST(CodePagesOnViews, ConvertUpToTheViewsEndOnly) {
  EXPECT_EQ(utf8_to_local(kUtf8Title), kLocalTitle);
  EXPECT_EQ(utf8_to_local(kUtf8Title.substr(0, 3)), "\xD6\xD0");
  EXPECT_EQ(local_to_utf8(kLocalTitle), kUtf8Title);
  EXPECT_EQ(local_to_utf8(kLocalTitle.substr(0, 2)), "\xE4\xB8\xAD");
  EXPECT_EQ(local_to_utf8(std::string_view("ab\0cd", 5).substr(0, 2)), "ab");
}

TEST(CodePagesOnViews, EmptyInEmptyOut) {
  EXPECT_EQ(utf8_to_local(""), "");
  EXPECT_EQ(local_to_utf8(std::string_view("xyz").substr(0, 0)), "");
}

}  // namespace
