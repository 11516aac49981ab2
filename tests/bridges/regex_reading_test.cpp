// Reading a run's matches and groups through RegexObject, held to the same run read member by
// member through the bridge, in any order; and the matcher's time check where a pattern's
// alternatives hide inside groups, classes, escapes and comments.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "bridges/automation_bridge.h"
#include "bridges/regex_object.h"
#include "pages.h"

namespace {

using bridges::Object;
using bridges::RegexObject;
using bridges::Variant;

std::string text(const rt::Text& t) {
  return std::string(t.view());
}

// The same run made and read by member name through the bridge, as RegexObject's defaults set
// it up: ignore case, multi-line, global.
class ByName {
 public:
  ByName(const char* pattern, const char* subject) {
    CoInitialize(nullptr);
    EXPECT_TRUE(bridges::create_object(engine_, "VBScript.RegExp"));
    bridges::write_property(engine_, "IgnoreCase", true);
    bridges::write_property(engine_, "Multiline", true);
    bridges::write_property(engine_, "Global", true);
    bridges::write_property(engine_, "Pattern", pattern);
    Variant s;
    bridges::set_variant(s, subject);
    matches_ = bridges::call_object_method(engine_, "Execute", s);
  }
  ~ByName() {
    bridges::clear_object(matches_);
    bridges::clear_object(engine_);
    CoUninitialize();
  }

  int32_t count() const {
    return static_cast<int32_t>(bridges::read_number_property(matches_, "Count"));
  }
  std::string match(int32_t n) const {
    const Object m = bridges::read_object_property(matches_, "Item", n - 1.0);
    return text(bridges::variant_to_text(bridges::read_variant_property(m, "Value")));
  }
  std::string group(int32_t n, int32_t k) const {
    const Object m = bridges::read_object_property(matches_, "Item", n - 1.0);
    const Object groups = bridges::read_object_property(m, "SubMatches");
    return text(bridges::variant_to_text(bridges::read_variant_property(groups, "Item", k - 1.0)));
  }

 private:
  Object engine_;
  Object matches_;
};

struct Case {
  const char* pattern;
  std::string subject;
  int32_t groups;
};

// Groups that take no part, empty matches, double-byte text, a group in a repeated group, and
// many matches.
std::vector<Case> cases() {
  std::string many;
  for (int i = 0; i < 1500; ++i) many += std::to_string(i) + (i % 3 ? "-x " : "- ");
  return {
      {"(a)|(b)", "ab ba", 2},
      {"(x*)", "ab", 1},
      {"(中)(文)?(\\d)?", "中文1 中 甲中文", 3},
      {"(?:(\\w)[,，])+(\\w)?", "a,b,c d,e，f", 2},
      {"(\\d+)-(x)?", many, 2},
      {"<b>([\\s\\S]*?)</b>", "<b>第一</b>\r\n<B>二\n</B><b></b>", 1},
  };
}

// Every group of every match, in order, against the bridge read by name.
TEST(RegexReading, EveryGroupInOrderAsReadByName) {
  for (const Case& r : cases()) {
    SCOPED_TRACE(r.pattern);
    RegexObject re;
    ASSERT_TRUE(re.create(r.pattern, r.subject.c_str()));
    const ByName expected(r.pattern, r.subject.c_str());
    ASSERT_EQ(re.match_count(), expected.count());
    ASSERT_GT(re.match_count(), 1);
    for (int32_t n = 1; n <= re.match_count(); ++n) {
      ASSERT_EQ(text(re.match_text(n)), expected.match(n)) << n;
      for (int32_t k = 1; k <= r.groups; ++k)
        ASSERT_EQ(text(re.submatch_text(n, k)), expected.group(n, k)) << n << "," << k;
    }
  }
}

// Groups read backwards, across matches, twice, and around numbers out of range: each read
// gives the match asked for, never the one read just before.
TEST(RegexReading, AnyOrderAndNumbersOutOfRange) {
  const std::string subject = "a1 b 中3 d4";
  RegexObject re;
  ASSERT_TRUE(re.create("(\\S)(\\d)?", subject.c_str()));
  const ByName expected("(\\S)(\\d)?", subject.c_str());
  ASSERT_EQ(re.match_count(), 4);
  const struct {
    int32_t n, k;
  } reads[] = {{4, 2}, {4, 1},       {1, 2}, {3, 1},   {1, 1},       {1, 1},       {2, 2},
               {5, 1}, {2, 1},       {0, 1}, {3, 2},   {INT_MIN, 1}, {3, INT_MIN}, {3, 3},
               {3, 0}, {INT_MAX, 1}, {3, 2}, {-1, -1}, {4, 2}};
  for (const auto& r : reads) {
    const std::string want =
        r.n >= 1 && r.n <= 4 && r.k >= 1 && r.k <= 2 ? expected.group(r.n, r.k) : std::string();
    EXPECT_EQ(text(re.submatch_text(r.n, r.k)), want) << r.n << "," << r.k;
  }
  EXPECT_EQ(text(re.match_text(3)), "中3");
  EXPECT_EQ(text(re.submatch_text(3, 1)), "中");
  EXPECT_TRUE(re.match_text(INT_MIN).empty());
}

// Positions in bytes of the local text, for matches and groups read in any order.
TEST(RegexReading, PositionsOfMatchesAndGroups) {
  const std::string subject = "中文ab 甲c 乙乙d";
  RegexObject re;
  ASSERT_TRUE(re.create("(\\w)([a-z])?", "x"));  // a run before, whose reads must not linger
  EXPECT_EQ(text(re.submatch_text(1, 1)), "x");
  ASSERT_TRUE(re.create("([^ ]+?)([a-z])", subject.c_str()));
  ASSERT_EQ(re.match_count(), 3);
  int32_t at = 99;
  EXPECT_EQ(text(re.submatch_text(3, 2, &at)), "d");
  EXPECT_EQ(at, 15);
  EXPECT_EQ(text(re.match_text(1, &at)), "中文a");
  EXPECT_EQ(at, 0);
  EXPECT_EQ(text(re.submatch_text(1, 2, &at)), "a");
  EXPECT_EQ(at, 4);
  EXPECT_EQ(text(re.submatch_text(2, 1, &at)), "甲");
  EXPECT_EQ(at, 7);
  EXPECT_EQ(text(re.match_text(4, &at)), "");
  EXPECT_EQ(at, -1);
  EXPECT_EQ(text(re.submatch_text(4, 1, &at)), "");
  EXPECT_EQ(at, -1);
}

// A new run, a copy and an assignment each read their own run.
TEST(RegexReading, NewRunsAndCopiesReadTheirOwnMatches) {
  RegexObject re;
  ASSERT_TRUE(re.create("(\\d)(\\d)", "12 34"));
  EXPECT_EQ(text(re.submatch_text(2, 2)), "4");
  const RegexObject copy(re);
  RegexObject assigned;
  ASSERT_TRUE(assigned.create("(z)", "z"));
  EXPECT_EQ(text(assigned.submatch_text(1, 1)), "z");
  assigned = re;
  ASSERT_TRUE(re.create("(\\w)(\\w)", "ab cd"));
  EXPECT_EQ(text(re.submatch_text(2, 2)), "d");
  EXPECT_EQ(text(copy.submatch_text(2, 2)), "4");
  EXPECT_EQ(text(assigned.submatch_text(2, 1)), "3");
  EXPECT_FALSE(re.create("(", "ab cd"));
  EXPECT_TRUE(re.submatch_text(2, 2).empty());
  EXPECT_TRUE(re.match_text(1).empty());
}

// --- The time check ---

// Every "s" (the runs ignore case) starts a lazy scan for "</span>" to the end of the page:
// seconds of work, far past the limit set below, unless each of those starts is checked.
std::string slow_page() {
  std::string page = "S</span> ";
  for (int i = 0; page.size() < 150000; ++i) page += i % 50 == 0 ? "<>" : "stuvwxyz";
  return page;
}

TEST(RegexTimeCheck, AlternativesInsideGroupsKeepTheCheckAfterThePlainStart) {
  const std::string page = slow_page();
  const pages::TimeLimit limit(std::chrono::milliseconds(100));
  for (const char* pattern :
       {"S(?:a|b)?[\\s\\S]*?</span>", "S(?=[^|]|x)[\\s\\S]*?(?:</span>|\\|)"}) {
    RegexObject re;
    ASSERT_TRUE(re.create(pattern, "S1</span>")) << pattern;
    EXPECT_EQ(re.match_count(), 1) << pattern;
    EXPECT_FALSE(re.create(pattern, page.c_str())) << pattern;
  }
}

// The slow scan is a second alternative outside any group, behind a "|" that looks nested, or
// that a first alternative seems to hide: each must be checked at every start.
TEST(RegexTimeCheck, AlternativesOutsideGroupsAreFound) {
  const std::string page = slow_page();
  const pages::TimeLimit limit(std::chrono::milliseconds(100));
  for (const char* pattern : {
           "xq[]|(S)[\\s\\S]*?</span>",                        // "[]" is a whole class
           "xq[^]|(S)[\\s\\S]*?</span>",                       // so is "[^]"
           "xq\\c(|(S)[\\s\\S]*?</span>\\c)?",                 // "\c(" is one character
           "xq[\\c]a(]|(S)[\\s\\S]*?</span>[\\c])]",           // also in a class
           "xq\\Q(\\E|(S)[\\s\\S]*?</span>\\Q)\\E",            // quoted brackets
           "xq(?x)#(\n|(S)[\\s\\S]*?</span>#)",                // extended-mode comments
           "xq(?C'(')|(S)[\\s\\S]*?</span>(?C')')",            // callout texts
           "xq[[:alpha:](]|(S)[\\s\\S]*?</span>[[:alpha:])]",  // POSIX classes
           "xq(?#()|(S)[\\s\\S]*?</span>",                     // a comment
       }) {
    RegexObject re;
    ASSERT_TRUE(re.create(pattern, "xS1</span>)")) << pattern;
    EXPECT_EQ(re.match_count(), 1) << pattern;
    EXPECT_FALSE(re.create(pattern, page.c_str())) << pattern;
  }
}

}  // namespace
