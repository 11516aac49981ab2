// Text cut out of markup as a cell shows it: what a browser would show of the same markup.
#include <gtest/gtest.h>

#include "web/html_text.h"

namespace {

TEST(ShownText, ReferencesAndSurroundingSpace) {
  const struct {
    const char* markup;
    const char* shown;
  } cases[] = {
      {"追风少年", "追风少年"},
      {"\r\n\t    追风少年\r\n  ", "追风少年"},
      {"  a  b  ", "a  b"},  // space inside stays
      {"Tom &amp; Jerry", "Tom & Jerry"},
      {"&lt;b&gt; &quot;x&quot; &apos;y&apos;", "<b> \"x\" 'y'"},
      {"&#23567;狐狸阿&#x6A58;", "小狐狸阿橘"},
      {"&#X6a58;", "橘"},
      {"&#65;&#x42;", "AB"},
      {"a&nbsp;b", "a b"},
      {"&#128512;", "?"},  // a character code page 936 lacks
      // What names nothing stays as written.
      {"AT&T", "AT&T"},
      {"&unknown;", "&unknown;"},
      {"&#;&#x;&#0;&#xD800;&#x110000;&#12a;", "&#;&#x;&#0;&#xD800;&#x110000;&#12a;"},
      {"&amp", "&amp"},
      {"&", "&"},
      {"a &averyveryverylongname; b", "a &averyveryverylongname; b"},
      {"&amp;amp;", "&amp;"},  // decoded once
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(web::shown_text(c.markup), c.shown) << c.markup;
}

}  // namespace
