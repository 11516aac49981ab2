// Cutting, spaces, case, small text makers and comparison.
#include <gtest/gtest.h>

#include <string>

#include "web/commands.h"

namespace {

std::string shown(const char* t) {
  return testing::PrintToString(std::string(t ? t : "(null)"));
}

TEST(TextCuts, CountPlainBytes) {
  const struct {
    const char* text;
    int32_t start, n;  // start: text_middle only
    std::string_view left, right, middle;
  } cases[] = {
      {"abcdef", 3, 100, "abcdef", "abcdef", "cdef"},
      {"abc", 4, 1, "a", "c", ""},
      {"abc", 0, 2, "ab", "bc", ""},
      {"abc", 2, -1, "", "", ""},
      {nullptr, 1, 1, "", "", ""},
      {"中文", 2, 2, "\xD6\xD0", "\xCE\xC4", "\xD0\xCE"},  // a character may be cut in half
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(shown(c.text) + " n=" + std::to_string(c.n));
    EXPECT_EQ(web::text_left(c.text, c.n).view(), c.left);
    EXPECT_EQ(web::text_right(c.text, c.n).view(), c.right);
    EXPECT_EQ(web::text_middle(c.text, c.start, c.n).view(), c.middle);
  }
}

TEST(Spaces, TrimAndRemoveByCharacter) {
  const struct {
    const char* text;
    std::string_view trimmed, without_spaces;
  } cases[] = {
      {"   ", "", ""},
      {"　 a b　 ", "a b", "ab"},  // ideographic spaces count at either end and inside
      {"\xB0\xA1\xA1\x41 ", "\xB0\xA1\xA1\x41", "\xB0\xA1\xA1\x41"},  // A1 A1 across characters
      {"\xB0\x20 x", "\xB0\x20 x", "\xB0\x20x"},                      // a space as trail byte
      {"a \xB0", "a", "a\xB0"},  // trim drops a lone lead byte at the end
      {"a long line of words, longer than a word ", "a long line of words, longer than a word",
       "alonglineofwords,longerthanaword"},
      {"\t        <li>  x  </li>        ", "\t        <li>  x  </li>", "\t<li>x</li>"},
      {nullptr, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(shown(c.text));
    EXPECT_EQ(web::trim_both_ends(c.text).view(), c.trimmed);
    EXPECT_EQ(web::remove_spaces(c.text).view(), c.without_spaces);
  }
}

TEST(ToLowerCase, AsciiOnlyAndNeverATrailByte) {
  const struct {
    const char* text;
    std::string_view lowered;
  } cases[] = {
      {"@[`{AZaz@[`{AZaz HTTP://A.COM", "@[`{azaz@[`{azaz http://a.com"},
      {"\xB0\x41\x42", "\xB0\x41\x62"},
      {"页面TITLE页面", "页面title页面"},
      {"AB\xB0", "ab\xB0"},
  };
  for (const auto& c : cases) EXPECT_EQ(web::to_lower_case(c.text).view(), c.lowered) << c.text;
}

TEST(SmallTexts, SpacesCharCopyHex) {
  EXPECT_EQ(web::spaces_text(3).view(), "   ");
  EXPECT_EQ(web::spaces_text(0).get(), nullptr);
  EXPECT_EQ(web::char_text(0xB0).view(), "\xB0");
  EXPECT_EQ(web::char_text(0).get(), nullptr);
  const char* original = "copy me";
  EXPECT_NE(web::copy_text(original).get(), original);
  EXPECT_EQ(web::copy_text("").get(), nullptr);
  const struct {
    int32_t value;
    std::string_view hex;
  } hex_cases[] = {{255, "FF"}, {0, "0"}, {-1, "FFFFFFFF"}, {0x1234abc, "1234ABC"}};
  for (const auto& c : hex_cases) EXPECT_EQ(web::hex_text(c.value).view(), c.hex) << c.value;
}

TEST(CompareTexts, SignByCharacterInCodePage936) {
  const struct {
    const char* a;
    const char* b;
    std::optional<bool> case_sensitive;
    int expected;
  } cases[] = {
      {"abc", "ABC", {}, 0},
      {"abc", "ABC", true, 1},
      {"ab", "abc", {}, -1},
      {nullptr, "", {}, 0},
      {"啊", "z", {}, 1},
      {"啊", "吧", {}, -1},
      {"\xB0\x41", "\xB0\x61", {}, -1},  // trail bytes are not folded
      {"a\xB0", "a", {}, 0},             // a lone lead byte at the end reads as the end
  };
  const auto sign = [](int32_t v) { return (v > 0) - (v < 0); };
  for (const auto& c : cases) {
    SCOPED_TRACE(shown(c.a) + " vs " + shown(c.b));
    EXPECT_EQ(sign(web::compare_texts(c.a, c.b, c.case_sensitive)), c.expected);
    EXPECT_EQ(sign(web::compare_texts(c.b, c.a, c.case_sensitive)), -c.expected);
  }
}

}  // namespace
