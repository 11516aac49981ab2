// The scripting regular-expression object, driven through the bridge by member name.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "bridges/automation_bridge.h"

namespace {

using namespace bridges;

std::string text(const rt::Text& t) {
  return std::string(t.view());
}

class RegExp : public testing::Test {
 protected:
  RegExp() {
    CoInitialize(nullptr);
    EXPECT_TRUE(create_object(engine_, "VBScript.RegExp"));
  }
  ~RegExp() override { CoUninitialize(); }

  void set(const char* pattern, bool global = true, bool ignore_case = false,
           bool multiline = false) {
    EXPECT_TRUE(write_property(engine_, "Pattern", pattern));
    EXPECT_TRUE(write_property(engine_, "Global", global));
    EXPECT_TRUE(write_property(engine_, "IgnoreCase", ignore_case));
    EXPECT_TRUE(write_property(engine_, "Multiline", multiline));
  }

  // Each match as "value@FirstIndex", or {"failed"} when Execute fails.
  std::vector<std::string> execute(const Variant& subject) {
    const Object matches = call_object_method(engine_, "Execute", subject);
    if (matches.empty())
      return {"failed"};
    std::vector<std::string> out;
    const auto count = static_cast<int32_t>(read_number_property(matches, "Count"));
    for (int32_t i = 0; i < count; ++i) {
      const Object match = read_object_property(matches, "Item", i);
      out.push_back(text(read_text_property(match, "Value")) + "@" +
                    std::to_string(static_cast<int>(read_number_property(match, "FirstIndex"))));
    }
    return out;
  }
  std::vector<std::string> execute(const char* subject) {
    Variant v;
    EXPECT_TRUE(set_variant(v, subject));
    return execute(v);
  }

  // A subject holding exactly these UTF-16 units.
  static Variant units(std::u16string_view s) {
    Variant v;
    v.get()->vt = automation::VT_BSTR;
    v.get()->bstrVal = SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
    return v;
  }

  // Each match of `pattern` over `subject`, both exactly these UTF-16 units, as
  // "FirstIndex+Length", or {"failed"} when Execute fails.
  std::vector<std::string> spans(std::u16string_view pattern, std::u16string_view subject) {
    EXPECT_TRUE(write_property(engine_, "Pattern", units(pattern)));
    EXPECT_TRUE(write_property(engine_, "Global", true));
    const Object matches = call_object_method(engine_, "Execute", units(subject));
    if (matches.empty())
      return {"failed"};
    std::vector<std::string> out;
    const auto count = static_cast<int32_t>(read_number_property(matches, "Count"));
    for (int32_t i = 0; i < count; ++i) {
      const Object match = read_object_property(matches, "Item", i);
      out.push_back(std::to_string(static_cast<int>(read_number_property(match, "FirstIndex"))) +
                    "+" + std::to_string(static_cast<int>(read_number_property(match, "Length"))));
    }
    return out;
  }

  struct SpanCase {
    std::u16string_view pattern;
    std::u16string_view subject;
    std::vector<std::string> expected;  // "FirstIndex+Length" per match
  };
  template <size_t N>
  void check(const SpanCase (&cases)[N]) {
    for (size_t i = 0; i < N; ++i) {
      EXPECT_EQ(spans(cases[i].pattern, cases[i].subject), cases[i].expected) << "case " << i;
    }
  }

  Object engine_;
};

using Matches = std::vector<std::string>;

TEST_F(RegExp, DialectTable) {
  const struct {
    const char* pattern;
    const char* subject;
    Matches expected;
    bool ignore_case = false;
    bool multiline = false;
  } cases[] = {
      {"<b>([\\s\\S]*?)</b>", "<b>1</b>\r\n<b>2\n</b>", {"<b>1</b>@0", "<b>2\n</b>@10"}},
      {"<b>(.*)</b>", "<b>1</b><b>2</b>", {"<b>1</b><b>2</b>@0"}},
      {"\\s+", "a \t\r\nb", {" \t\r\n@1"}},
      {"a*", "baaa", {"@0", "aaa@1", "@4"}},  // an empty match moves one on
      {"x*|b", "ab", {"@0", "@1", "@2"}},
      {"b", "中文b", {"b@2"}},  // offsets count UTF-16 units
      {"\\u4E2D.", "中文", {"中文@0"}},
      {"\\x41", "zA", {"A@1"}},
      {"[^]", "a\n", {"a@0", "\n@1"}},
      {"a[]", "a", {}},
      {"(a)?b\\1", "b", {"b@0"}},  // a group that took no part matches empty
      {"a$", "a\n", {}},           // "$" only at the very end
      {"^\\w+$", "one\r\ntwo", {"one@0", "two@5"}, false, true},
      {"ONE", "one One", {"one@0", "One@4"}, true},
      {"\\d{2,}", "1 22 333", {"22@2", "333@5"}},
      {"(?:ab)+", "ababa", {"abab@0"}},
      // Leading plain characters followed by a quantifier, an escape or alternatives.
      {"ab*c", "ac abbc", {"ac@0", "abbc@3"}},
      {"xy{2}", "xyy xy", {"xyy@0"}},
      {"ab?c", "ac abc", {"ac@0", "abc@3"}},
      {"ab\\d", "ab\\d ab1", {"ab1@5"}},
      {"ab\\\\d", "ab\\d ab1", {"ab\\d@0"}},
      {"ab|cd", "cd ab", {"cd@0", "ab@3"}},
      {"a#b c", "A#B C", {"A#B C@0"}, true},
  };
  for (const auto& c : cases) {
    set(c.pattern, true, c.ignore_case, c.multiline);
    EXPECT_EQ(execute(c.subject), c.expected) << c.pattern;
  }
}

TEST_F(RegExp, SurrogatePairsAreOneCharacterAndBrokenOnesFailTheRun) {
  set(".");
  EXPECT_EQ(execute(units(u"\U0001F600a")).size(), 2u);
  set("a");
  const Object matches = call_object_method(engine_, "Execute", units(u"\U0001F600a"));
  const Object match = read_object_property(matches, "Item", 0);
  EXPECT_EQ(read_number_property(match, "FirstIndex"), 2.0);

  set("x*");  // empty matches step over the whole pair
  EXPECT_EQ(execute(units(u"\U0001F600")).size(), 2u);

  set("a");
  EXPECT_EQ(execute(units(std::u16string(u"a\xD800") + u"a")), Matches{"failed"});
  EXPECT_EQ(automation_error(), kException);
}

// A character beyond U+FFFF is one character, so a quantifier after it repeats the whole
// surrogate pair, also where it ends the pattern's leading plain characters.
TEST_F(RegExp, QuantifierAfterAnAstralCharacterRepeatsTheWholeCharacter) {
  const SpanCase cases[] = {
      {u"\U0001F600+", u"\U0001F600\U0001F600x\U0001F600", {"0+4", "5+2"}},
      {u"\U0001F600{2}", u"\U0001F600\U0001F600\U0001F600", {"0+4"}},
      {u"a\U0001F600{2}", u"a\U0001F600 a\U0001F600\U0001F600", {"4+5"}},
      {u"ab\U0001F600*", u"ab\U0001F600\U0001F600ab", {"0+6", "6+2"}},
      {u"\U0001F600?x", u"x\U0001F600x", {"0+1", "1+3"}},
      {u"\u4E2D\U0001F600{1,2}?", u"\u4E2D\U0001F600\U0001F600", {"0+3"}},
  };
  check(cases);
}

// The leading plain characters end where the time check goes in; a quantifier behind items
// that match nothing still belongs to the last of them.
TEST_F(RegExp, QuantifierBehindAnEmptyItemStaysWithItsCharacter) {
  const SpanCase cases[] = {
      {u"ab(?#note)+", u"abbb x ab", {"0+4", "7+2"}},
      {u"ab\\E+", u"abbb x ab", {"0+4", "7+2"}},
      {u"ab\\Q\\E{2}", u"ab abb", {"3+3"}},
      {u"a\U0001F600(?#)\\E*", u"a a\U0001F600\U0001F600", {"0+1", "2+5"}},
  };
  check(cases);
}

// \Q...\E quotes everything up to \E or to the end of the pattern, "|" and ")" included.
TEST_F(RegExp, QuotedRunReachingTheEndOfThePattern) {
  const SpanCase cases[] = {
      {u"x|\\Qa|b", u"a|b x ab", {"0+3", "4+1"}},  {u"\\Q(a)", u"(a) a", {"0+3"}},
      {u"\\Qa|b\\E|c", u"a|b c", {"0+3", "4+1"}},  {u"x|\\Qa\\", u"a\\ x", {"0+2", "3+1"}},
      {u"(?x)a|\\Q# b", u"a # b", {"0+1", "2+3"}},
  };
  check(cases);
}

// In extended mode "#" starts a comment up to the next line break, or up to the end of the
// pattern; what the comment holds ("|", "\Q", ")") means nothing.
TEST_F(RegExp, ExtendedModeCommentsHideWhatTheyHold) {
  const SpanCase cases[] = {
      {u"(?x)a # one|two\n|b", u"ab two", {"0+1", "1+1"}},
      {u"(?x)a # one|two\\n|b", u"ab two", {"0+1"}},  // "\n" spelt out ends no comment
      {u"(?x)a b # tail", u"ab a b", {"0+2"}},
      {u"(?x)a|b # \\Q", u"ab", {"0+1", "1+1"}},
      {u"(?x)a # )", u"a)", {"0+1"}},
  };
  check(cases);
}

TEST_F(RegExp, InvalidPatternsFailExecuteAndTest) {
  for (const char* pattern : {"(", "[a", "a{2,1}", "*a", "a\\", "(?<=a+)b", "(*UTF)a", "a)"}) {
    set(pattern);
    EXPECT_EQ(execute("aab"), Matches{"failed"}) << pattern;
    EXPECT_EQ(automation_error(), kException) << pattern;
    EXPECT_FALSE(read_number_property(engine_, "Test", "aab") != 0) << pattern;
  }
}

TEST_F(RegExp, GlobalOffGivesTheFirstMatchOnly) {
  set("\\d", false);
  EXPECT_EQ(execute("a1b2"), Matches{"1@1"});
  EXPECT_EQ(text(call_text_method(engine_, "Replace", "a1b2", "#")), "a#b2");
}

TEST_F(RegExp, SubMatchesAndTheirEmptyValue) {
  set("(\\w)(\\d)?");
  const Object matches = call_object_method(engine_, "Execute", "a1 b");
  const Object second = read_object_property(matches, "Item", 1);
  const Object groups = read_object_property(second, "SubMatches");
  EXPECT_EQ(read_number_property(groups, "Count"), 2.0);
  EXPECT_EQ(text(read_text_property(groups, "Item", 0)), "b");
  const Variant unset = read_variant_property(groups, "Item", 1);
  EXPECT_EQ(unset.get()->vt, automation::VT_EMPTY);
  EXPECT_EQ(automation_error(), kAutomationOk);

  EXPECT_TRUE(read_variant_property(groups, "Item", 2).get()->vt == automation::VT_EMPTY);
  EXPECT_EQ(automation_error(), kException) << "out of range";
  EXPECT_TRUE(read_object_property(matches, "Item", 2).empty());
  EXPECT_EQ(automation_error(), kException);
  EXPECT_EQ(read_number_property(second, "Length"), 1.0);
}

TEST_F(RegExp, PropertiesReadBack) {
  set("a\"b", true, true, false);
  EXPECT_EQ(text(read_text_property(engine_, "Pattern")), "a\"b");
  EXPECT_EQ(text(read_text_property(engine_, "IgnoreCase")), "-1");
  EXPECT_EQ(text(read_text_property(engine_, "Multiline")), "0");
  EXPECT_EQ(read_number_property(engine_, "Global"), -1.0);
  EXPECT_EQ(read_number_property(engine_, "Test", "xA\"Bx"), -1.0);
  EXPECT_FALSE(write_property(engine_, "Singleline", true));
  EXPECT_EQ(automation_error(), kNotBound);
}

}  // namespace
