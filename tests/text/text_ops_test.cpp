// The text operations as C++ functions over views. The commands' tests pin what each operation
// does; what is new here is the view: it may be cut out of a longer text, and nothing past its
// end may count, not even the rest of a character it cuts in two. And the results are built in
// strings, whose growth the commands never reach.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "web/address.h"
#include "web/text_ops.h"

namespace {

namespace ops = web::text_ops;
using ops::Case;

// The first n bytes of `text`: a view whose end is not the end of the text it lies in.
std::string_view cut(std::string_view text, size_t n) {
  return text.substr(0, n);
}

TEST(TextOpsOnViews, SearchesEndAtTheViewsEnd) {
  const struct {
    std::string_view text;
    size_t n;
    std::string_view sought;
    int32_t forward, backward;
  } cases[] =
      {
          {"abcabc", 3, "ca", -1, -1},      {"abcabc", 3, "c", 3, 3},
          {"abcabc", 5, "abc", 1, 1},       {"xyABCD", 4, "ab", -1, -1},
          {"a\xB0\xA1", 2, "\xB0", -1, -1},  // a lead byte cut from its trail ends the walk
          {"abcdefghij", 9, "j", -1, -1},
      };
  for (const auto& c : cases) {
    const std::string_view view = cut(c.text, c.n);
    EXPECT_EQ(ops::find(view, c.sought), c.forward) << c.text << " / " << c.n;
    EXPECT_EQ(ops::find_backward(view, c.sought), c.backward) << c.text << " / " << c.n;
  }
  EXPECT_EQ(ops::find(cut("XYab", 2), "YA", 1, Case::kFoldAscii), -1);
  EXPECT_EQ(ops::find(cut("XYab", 4), "YA", 1, Case::kFoldAscii), 2);
}

TEST(TextOpsOnViews, CuttingSplittingAndSpacesSeeOnlyTheView) {
  EXPECT_EQ(ops::between(cut("<a>1</a>", 6), "<a>", "</a>"), "");
  EXPECT_EQ(ops::between(cut("<a>1</a>!", 8), "<a>", "</a>"), "1");
  EXPECT_EQ(ops::split(cut("a,b,c", 3), ","), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ops::split(cut("a,,b", 2), ","), (std::vector<std::string>{"a"}));
  EXPECT_EQ(ops::split(cut("a,,b", 3), ","), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(ops::trim_both_ends(cut("  a  b", 5)), "a");
  EXPECT_EQ(ops::trim_both_ends(cut("a\xB0\xA1", 2)), "a");  // the lone lead goes with spaces
  EXPECT_EQ(ops::remove_spaces(cut("a b c", 3)), "ab");
  EXPECT_EQ(ops::remove_spaces(cut("ab cdefgh ijk", 12)), "abcdefghij");
  EXPECT_EQ(ops::to_lower_case(cut("ABCDEFGHIJKL", 9)), "abcdefghi");
  EXPECT_EQ(ops::right(cut("abcdef", 4), 2), "cd");
  EXPECT_EQ(ops::middle(cut("abcdef", 4), 3, 10), "cd");
  EXPECT_EQ(ops::replace(cut("aXaXa", 4), "x", "-", Case::kFoldAscii), "a-a-");
  EXPECT_EQ(ops::after_colon(cut("Host: a.b\r\n", 9)), "a.b");
}

TEST(TextOpsOnViews, ComparingAndNumbersStopAtTheViewsEnd) {
  EXPECT_EQ(ops::compare(cut("abc", 2), "abc", Case::kExact), -1);
  EXPECT_EQ(ops::compare(cut("abc", 2), "ab", Case::kExact), 0);
  EXPECT_EQ(ops::compare(cut("AB", 2), "ab", Case::kFoldAscii), 0);
  // A lead byte cut from its trail reads as the end.
  EXPECT_EQ(ops::compare(cut("a\xB0\xA1", 2), "a", Case::kExact), 0);
  EXPECT_EQ(ops::to_integer(cut("1234", 2)), 12);
  EXPECT_EQ(ops::to_integer(cut("-7x", 1)), 0);
}

TEST(TextOpsOnViews, AddressPartsSeeOnlyTheView) {
  const std::string_view address = cut("http://Films.Example:8080/list?page=2", 25);
  EXPECT_EQ(web::addresses::host_of(address), "films.example");
  EXPECT_EQ(web::addresses::host_of(address, {.keep_port = true}), "films.example:8080");
  EXPECT_EQ(web::addresses::port_of(cut("http://a.b:8080/", 12)), 8);
  EXPECT_EQ(web::addresses::path_of(cut("http://a.b/list?page=2", 15)), "/list");
}

// Results are built in a string that starts at the input's size: growing and shrinking both
// come out whole.
TEST(TextOpsResults, ReplacingGrowsAndShrinksTheResult) {
  const struct {
    std::string_view text, sought, replacement;
    std::string_view expected;
  } cases[] = {
      {"aaaa", "a", "bbbb", "bbbbbbbbbbbbbbbb"},
      {"a$b$c", "$", "    ", "a    b    c"},
      {"x###y###", "###", "\r\n\r\n", "x\r\n\r\ny\r\n\r\n"},
      {"abcabcabc", "abc", "", ""},
      {"abcabcabc", "bc", "_", "a_a_a_"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ops::replace(c.text, c.sought, c.replacement, Case::kExact), c.expected) << c.text;
  }
  const std::string long_text(100000, 'a');
  std::string doubled;
  for (size_t i = 0; i < long_text.size(); ++i) doubled += "xy";
  EXPECT_EQ(ops::replace(long_text, "a", "xy", Case::kExact), doubled);
  EXPECT_EQ(ops::spaces(3), "   ");
  EXPECT_EQ(ops::spaces(-1), "");
  EXPECT_EQ(ops::hex(-1), "FFFFFFFF");
  EXPECT_EQ(ops::hex(10), "A");
}

}  // namespace
