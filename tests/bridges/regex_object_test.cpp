#include "bridges/regex_object.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pages.h"

namespace {

using bridges::RegexObject;
using pages::Card;

std::string text(const rt::Text& t) {
  return std::string(t.view());
}

const std::vector<Card> kCards = {
    {"更新至12集", "/vod/1201.html", "流浪地球2", "吴京,刘德华,李雪健",
     "http://img.example/1201.jpg"},
    {"HD", "/vod/88.html", "长津湖", "吴京,易烊千玺", ""},  // no poster
    {"第05集", "/vod/307.html", "三体 <第一季>", "张鲁一,于和伟", "http://img.example/307.jpg",
     true},  // upper-case class names
    {"", "/vod/9.html", "Empty Note", "", "http://img.example/9.jpg"},
};

std::string search_page(size_t filler_bytes = 300) {
  std::string page = pages::page_head();
  for (const Card& c : kCards) page += pages::card_html(c) + pages::filler(filler_bytes);
  return page + pages::page_tail();
}

TEST(RegexObjectPages, CardPatternGivesEveryCardAndItsFiveGroups) {
  RegexObject re;
  ASSERT_TRUE(re.create(app::site::kCardPattern, search_page().c_str()));
  ASSERT_EQ(re.match_count(), static_cast<int32_t>(kCards.size()));
  EXPECT_EQ(re.submatch_count(), 5);
  for (size_t i = 0; i < kCards.size(); ++i) {
    const auto n = static_cast<int32_t>(i + 1);
    SCOPED_TRACE(kCards[i].title);
    EXPECT_EQ(text(re.submatch_text(n, app::site::kCardPoster)), kCards[i].poster);
    EXPECT_EQ(text(re.submatch_text(n, app::site::kCardNote)), kCards[i].note);
    EXPECT_EQ(text(re.submatch_text(n, app::site::kCardAddress)), kCards[i].href);
    EXPECT_EQ(text(re.submatch_text(n, app::site::kCardName)), kCards[i].title);
    EXPECT_EQ(text(re.submatch_text(n, app::site::kCardCast)), kCards[i].cast);
  }
}

TEST(RegexObjectPages, EpisodePatternOverAPlaySection) {
  const std::string section = pages::episode_link("/play/5-1-1.html", "第01集") +
                              pages::episode_link("/play/5-1-2.html", "第02集 完结") + "\r\n<li>" +
                              pages::episode_link("/play/5-1-3.html", "特别篇") + "</li>";
  RegexObject re;
  ASSERT_TRUE(re.create(app::site::kEpisodePattern, section.c_str()));
  ASSERT_EQ(re.match_count(), 3);
  EXPECT_EQ(text(re.submatch_text(1, 1)), "/play/5-1-1.html");
  EXPECT_EQ(text(re.submatch_text(2, 2)), "第02集 完结");
  EXPECT_EQ(text(re.submatch_text(3, 2)), "特别篇");
}

TEST(RegexObjectPages, CreatingAgainKeepsOnlyTheSecondRun) {
  const std::string section = pages::episode_link("/play/1.html", "第01集") +
                              pages::episode_link("/play/2.html", "第02集") +
                              pages::episode_link("/play/3.html", "第03集");
  RegexObject re;
  ASSERT_TRUE(re.create(app::site::kCardPattern, search_page().c_str()));
  ASSERT_TRUE(re.create(app::site::kEpisodePattern, section.c_str()));
  EXPECT_EQ(re.match_count(), 3);
  EXPECT_EQ(re.submatch_count(), 2);
  EXPECT_EQ(text(re.pattern()), app::site::kEpisodePattern);
}

// Everything out of range, or after a failed run, reads as empty.
TEST(RegexObjectFailures, EmptyResultsTable) {
  RegexObject fresh;
  EXPECT_TRUE(fresh.pattern().empty());
  EXPECT_EQ(fresh.match_count(), 0);
  EXPECT_TRUE(fresh.submatch_text(1, 1).empty());

  RegexObject invalid;
  EXPECT_FALSE(invalid.create("(unclosed", "text (unclosed"));
  EXPECT_EQ(invalid.match_count(), 0);
  EXPECT_EQ(invalid.submatch_count(), 0);
  EXPECT_TRUE(invalid.submatch_text(1, 1).empty());
  EXPECT_TRUE(invalid.match_text(1).empty());

  RegexObject empty_subject;
  EXPECT_TRUE(empty_subject.create("a(b)", ""));
  EXPECT_EQ(empty_subject.match_count(), 0);
  EXPECT_EQ(empty_subject.submatch_count(), 0);

  RegexObject two;
  ASSERT_TRUE(two.create("(\\d)(x)?", "1 2"));
  ASSERT_EQ(two.match_count(), 2);
  const struct {
    int32_t n, k;
    const char* expected;
  } cases[] = {{1, 1, "1"}, {2, 1, "2"}, {3, 1, ""}, {0, 1, ""},
               {1, 2, ""},  {1, 3, ""},  {1, 0, ""}, {-5, -5, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(text(two.submatch_text(c.n, c.k)), c.expected) << c.n << "," << c.k;
  }
  EXPECT_EQ(text(two.match_text(2)), "2");
  EXPECT_TRUE(two.match_text(3).empty());
}

TEST(RegexObjectOptions, DefaultsIgnoreCaseAndListEveryMatch) {
  RegexObject re;
  ASSERT_TRUE(re.create("<li>(\\w+)", "<LI>one <li>two <Li>three"));
  EXPECT_EQ(re.match_count(), 3);

  const struct {
    RegexObject::Options options;
    int32_t count;
  } cases[] = {
      {{.case_sensitive = true}, 1},
      {{.global = false}, 1},
      {{.case_sensitive = false, .global = true}, 3},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(re.create("<li>(\\w+)", "<LI>one <li>two <Li>three", c.options));
    EXPECT_EQ(re.match_count(), c.count);
  }

  // Multi-line is on by default: ^ and $ work at line ends.
  ASSERT_TRUE(re.create("^(\\w+)$", "one\r\ntwo\nthree"));
  EXPECT_EQ(re.match_count(), 3);
  ASSERT_TRUE(re.create("^(\\w+)$", "one\r\ntwo\nthree", {.multiline = false}));
  EXPECT_EQ(re.match_count(), 0);
}

TEST(RegexObjectOptions, QuotePlaceholderBecomesADoubleQuote) {
  const std::string subject = "<a href=\"/vod/1.html\">x</a>";
  RegexObject re;
  ASSERT_TRUE(
      re.create("href=#引号([^#引号]*)#引号", subject.c_str(), {.quote_placeholder = true}));
  EXPECT_EQ(text(re.pattern()), "href=\"([^\"]*)\"");
  EXPECT_EQ(text(re.submatch_text(1, 1)), "/vod/1.html");

  ASSERT_TRUE(re.create("href=#引号", subject.c_str()));
  EXPECT_EQ(text(re.pattern()), "href=#引号");
  EXPECT_EQ(re.match_count(), 0);
}

TEST(RegexObjectReplace, GroupReferencesOverTheLastSubject) {
  RegexObject re;
  ASSERT_TRUE(re.create("(\\w+)=(\\d+)", "甲 a=1, b=22"));
  const struct {
    const char* replacement;
    const char* expected;
  } cases[] = {
      {"$2:$1", "甲 1:a, 22:b"},
      {"[$&]", "甲 [a=1], [b=22]"},
      {"$$", "甲 $, $"},
      {"$3$0", "甲 $3$0, $3$0"},
      {"", "甲 , "},
      {"$01", "甲 a, b"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(text(re.replace(c.replacement)), c.expected) << c.replacement;

  ASSERT_TRUE(re.create("b", "abc", {.global = false}));
  EXPECT_EQ(text(re.replace("[$`|$']")), "a[a|c]c");

  RegexObject none;
  EXPECT_TRUE(none.replace("x").empty());
}

TEST(RegexObjectPositions, ByteOffsetsAfterDoubleByteText) {
  RegexObject re;
  // "中文" is two UTF-16 units but four bytes.
  ASSERT_TRUE(re.create("(b)(c)", "中文abc 中文abc"));
  int32_t position = 99;
  EXPECT_EQ(text(re.match_text(1, &position)), "bc");
  EXPECT_EQ(position, 5);
  EXPECT_EQ(text(re.match_text(2, &position)), "bc");
  EXPECT_EQ(position, 13);
  EXPECT_EQ(text(re.match_text(1, &position)), "bc");  // asking backwards starts over
  EXPECT_EQ(position, 5);
  EXPECT_EQ(text(re.submatch_text(2, 2, &position)), "c");
  EXPECT_EQ(position, 14);
  re.match_text(3, &position);
  EXPECT_EQ(position, -1);
}

TEST(RegexObjectCopy, SharesTheRunAndOutlivesTheOriginal) {
  auto original = std::make_unique<RegexObject>();
  ASSERT_TRUE(original->create("(\\d+)", "7 8 9"));
  RegexObject copy(*original);
  original.reset();
  EXPECT_EQ(copy.match_count(), 3);
  EXPECT_EQ(text(copy.submatch_text(3, 1)), "9");
  EXPECT_EQ(text(copy.replace("<$1>")), "<7> <8> <9>");

  RegexObject assigned;
  assigned = copy;
  ASSERT_TRUE(copy.create("x", "y"));
  EXPECT_EQ(assigned.match_count(), 3);
}

TEST(RegexObjectThreads, TwoInstancesOnTwoThreadsAtOnce) {
  const std::string results = search_page(2000);
  std::string episodes;
  for (int i = 1; i <= 40; ++i) {
    episodes += pages::episode_link("/play/" + std::to_string(i) + ".html",
                                    "第" + std::to_string(i) + "集");
  }
  auto search = [&](bool& ok) {
    ok = true;
    for (int round = 0; round < 20; ++round) {
      RegexObject re;
      ok = ok && re.create(app::site::kCardPattern, results.c_str()) && re.match_count() == 4 &&
           text(re.submatch_text(3, app::site::kCardName)) == "三体 <第一季>";
    }
  };
  auto list = [&](bool& ok) {
    ok = true;
    for (int round = 0; round < 20; ++round) {
      RegexObject re;
      ok = ok && re.create(app::site::kEpisodePattern, episodes.c_str()) &&
           re.match_count() == 40 && text(re.submatch_text(40, 2)) == "第40集";
    }
  };
  bool first = false, second = false;
  std::thread a(search, std::ref(first));
  std::thread b(list, std::ref(second));
  a.join();
  b.join();
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
}

// --- Bad input: every run ends, with a collection or a failure ---

TEST(RegexObjectBadInput, TwentyMegabytePageOfCards) {
  // This checks that every card is found. Sanitized builds on a busy machine may take longer
  // than the matcher's usual limit over 20 MiB, so the limit is raised here.
  pages::TimeLimit generous(std::chrono::seconds(60));
  std::string page = pages::page_head();
  int cards = 0;
  while (page.size() < 20u * 1024 * 1024) {
    page +=
        pages::card_html(kCards[static_cast<size_t>(cards) % kCards.size()]) + pages::filler(4000);
    ++cards;
  }
  RegexObject re;
  ASSERT_TRUE(re.create(app::site::kCardPattern, page.c_str()));
  EXPECT_EQ(re.match_count(), cards);
  EXPECT_EQ(text(re.submatch_text(cards, app::site::kCardName)),
            kCards[static_cast<size_t>(cards - 1) % kCards.size()].title);
}

TEST(RegexObjectBadInput, BinaryNoiseMatchesNothing) {
  std::mt19937 random(20240601);
  std::string noise(1 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random() % 255 + 1);  // no terminator inside
  RegexObject re;
  // The episode pattern finds nothing. The card pattern may also end in the engine's limits: a
  // lone "<li" in the noise starts a scan of everything after it; either way nothing matches.
  EXPECT_TRUE(re.create(app::site::kEpisodePattern, noise.c_str()));
  EXPECT_EQ(re.match_count(), 0);
  re.create(app::site::kCardPattern, noise.c_str());
  EXPECT_EQ(re.match_count(), 0);
}

TEST(RegexObjectBadInput, ExponentialBacktrackingFailsTheRun) {
  RegexObject re;
  EXPECT_FALSE(re.create("(a|aa)+$", (std::string(40, 'a') + "b").c_str()));
  EXPECT_EQ(re.match_count(), 0);
}

// Every "S" of this page starts a lazy scan for "</span>" that runs to the end of the page
// without finding it: quadratic work, far beyond the time allowed. Only the first one matches.
std::string lazy_scan_page() {
  std::string page = "S</span> ";
  for (int i = 0; page.size() < 400000; ++i) page += i % 50 == 0 ? "<>" : "stuvwxyz";
  return page;
}

TEST(RegexObjectBadInput, SlowWholePageScanFailsInsteadOfStoppingEarly) {
  // The match at the start must not survive as a result.
  const std::string page = lazy_scan_page();
  const pages::TimeLimit limit(std::chrono::milliseconds(100));
  RegexObject re;
  EXPECT_FALSE(re.create("S([\\s\\S]*?)</span>", page.c_str()));
  EXPECT_EQ(re.match_count(), 0);
}

// The time check stays in a pattern that ends in a quoted run or in an extended-mode comment.
TEST(RegexObjectBadInput, SlowScanFailsAlsoWhenThePatternEndsInAQuotedRunOrComment) {
  const std::string page = lazy_scan_page();
  const pages::TimeLimit limit(std::chrono::milliseconds(100));
  for (const char* pattern :
       {"(?x)S ([\\s\\S]*?) </span> # up to the end", "[S]([\\s\\S]*?)\\Q</span>"}) {
    RegexObject re;
    ASSERT_TRUE(re.create(pattern, "xS1</span>")) << pattern;
    EXPECT_EQ(text(re.submatch_text(1, 1)), "1") << pattern;
    EXPECT_FALSE(re.create(pattern, page.c_str())) << pattern;
    EXPECT_EQ(re.match_count(), 0) << pattern;
  }
}

}  // namespace
